// Parameter store of the international-algorithms provider (CSPI): eleven
// named NIST and Brainpool curves, four RSA profiles and three DSA domain
// parameter sets, with lookup by index and OID, display names in
// Windows-1251, a text reader for a GOST 28147 S-box, and binary parameter
// files protected or checked through the owning CSPI.
//
// The 19 virtual operations keep their order (slot n is operation n below);
// results are 1 for success and 0 for failure. The lookups touch no state; the
// binary file operations need an owner.
#ifndef QVK_CSP_CSPIPARAMETERS_H
#define QVK_CSP_CSPIPARAMETERS_H

#include <cstddef>
#include <cstdint>

#include "cgapi/CSPIRecords.h"
#include "crypto/GOST28147.h"

class CSPI;

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
class CSPIParameters {
public:
    CSPIParameters();
    ~CSPIParameters();
    CSPIParameters(const CSPIParameters&) = delete;
    CSPIParameters& operator=(const CSPIParameters&) = delete;

    // 0. A header word, then 128 hexadecimal values in four rows of 32: the
    // first 16 of row k give the low nibbles of bytes 16k..16k+15, the next 16
    // their high nibbles.
    virtual int LoadSBoxText(const char* path, GOST28147PackedSBox* sBox);
    // 1.
    virtual void SetCSPI(CSPI* owner);
    // 2 to 5. 80-byte protected and 96-byte checked S-box files.
    virtual int LoadSBoxFile(const char* path, GOST28147PackedSBox* sBox);
    virtual int LoadSBoxFileEx(const char* path, GOST28147PackedSBox* sBox);
    virtual int SaveSBoxFile(const char* path, const GOST28147PackedSBox* sBox);
    virtual int SaveSBoxFileEx(const char* path, const GOST28147PackedSBox* sBox);
    // 6, 7. 40-byte RSA profile file around the 8-byte record.
    virtual int LoadProfileFile(const char* path, std::uint8_t* record);
    virtual int SaveProfileFile(const char* path, const std::uint8_t* record);
    // 8, 9. RSA profiles 0..3; null outputs are skipped.
    virtual int GetRSAProfile(std::uint32_t index, std::uint32_t* keyBits, std::uint32_t* hashBits);
    virtual int DescribeRSAProfile(std::uint32_t index, std::uint32_t* keyBits, std::uint32_t* hashBits, char* name,
                                   char* oid);
    // 10, 11. 1,240-byte domain-parameter file around the 1,208-byte record.
    virtual int LoadDomainParametersFile(const char* path, std::uint8_t* record);
    virtual int SaveDomainParametersFile(const char* path, const std::uint8_t* record);
    // 12, 13. DSA domain sets 0..2.
    virtual int GetDomainParameters(std::uint32_t index, std::uint8_t* record, std::uint32_t* hashBits);
    virtual int DescribeDomainParameters(std::uint32_t index, std::uint32_t* modulusBits, std::uint32_t* hashBits,
                                         char* name, char* oid);
    // 14, 15. 572-byte curve file around the 540-byte entry.
    virtual int LoadCurveFile(const char* path, std::uint8_t* entry);
    virtual int SaveCurveFile(const char* path, const std::uint8_t* entry);
    // 16 to 18. Curves 0..10.
    virtual int GetCurve(std::uint32_t index, std::uint8_t* entry);
    virtual int DescribeCurve(std::uint32_t index, std::uint32_t* fieldBits, std::uint32_t* hashBits, char* name,
                              char* oid);
    virtual int FindCurveByOID(const char* oid, std::uint32_t* index);

private:
    CSPI* owner_;
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#endif
