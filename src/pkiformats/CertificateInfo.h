// The certificate information record handed to callers: seventeen owned
// texts taken from a certificate. FillCertificateInfo clears the record
// before it fills it, so a record that still owns texts must go through
// FreeCertificateInfo first, or those texts are lost.
#ifndef QVK_PKIFORMATS_CERTIFICATEINFO_H
#define QVK_PKIFORMATS_CERTIFICATEINFO_H

#include <cstdint>

struct CertificateInfo {
    std::uint32_t filled;  // 1 after a successful fill, 0 after freeing
    char* issuerName;
    char* issuerCommonName;
    char* serialNumber;  // unspaced hexadecimal
    char* subjectName;
    char* subjectCommonName;
    char* subjectOrganisation;
    char* subjectUnit;
    char* subjectTitle;
    char* subjectState;
    char* subjectLocality;
    char* subjectPersonName;  // surname, one blank, given name
    char* altName5;
    char* altName4;
    char* altName1;
    char* altName2;
    char* attribute421;  // 1.2.804.2.1.1.1.11.1.4.2.1
    char* attribute411;  // 1.2.804.2.1.1.1.11.1.4.1.1
};

inline constexpr unsigned kCertificateInfoTexts = 17;

#endif
