// The certificate information record handed to callers: seventeen owned
// texts taken from a certificate. FillCertificateInfo clears the record
// before it fills it, so a record that still owns texts must go through
// FreeCertificateInfo first, or those texts are lost.
#ifndef QVK_PKIFORMATS_CERTIFICATEINFO_H
#define QVK_PKIFORMATS_CERTIFICATEINFO_H

#include <cstdint>

#include "wemu.h"

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

// The record a signer's certificate is described in: the certificate's
// texts, then, when timePresent is set, a value and a time the caller gave
// in UTC, held here in local time. Freeing releases the texts and clears
// the whole record.
struct SignerCertificateInfo {
    CertificateInfo certificate;
    std::uint32_t timePresent;
    std::uint32_t timeValue;
    SYSTEMTIME time;
};

#endif
