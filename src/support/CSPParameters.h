// Parameter store of the crypto service provider: the fifteen standard
// DSTU 4145 curves (ten over a polynomial basis, five over an optimal normal
// basis) with their OIDs and display names, the ten standard GOST 28147
// S-boxes, the default DSTU 7624 S-box set, and parameter files in text and
// binary form.
//
// The 28 virtual operations keep their order (slot n is operation n + 1 in
// the list of the class); results are 1 for success and 0 for failure.
// GetStandardCurve and GetStandardSBox touch no state and may be called on
// any instance, including one without a provider.
#ifndef QVK_SUPPORT_CSPPARAMETERS_H
#define QVK_SUPPORT_CSPPARAMETERS_H

#include <cstddef>
#include <cstdint>

#include "crypto/GOST28147.h"
#include "support/DSTU4145Records.h"

enum : std::size_t {
    CSP_STANDARD_POLYNOMIAL_CURVES = 10,
    CSP_STANDARD_NORMAL_CURVES = 5,
    CSP_STANDARD_SBOXES = 10,
    CSP_CURVE_TEXT_BYTES = 128,  // name and OID buffers, NUL included
    CSP_DSTU_SBOX_SET_BYTES = 1024
};

// What the parameter files need of the owning crypto service provider. Each
// operation returns 0 for success, except GetStoredString (the kept password
// text or null) and CRC32Count (the CRC). The provider keeps its own
// operation table as it is and satisfies this interface beside it (for
// instance through a member object that forwards).
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
class ICSPParametersProvider {
public:
    // Feature query form: an all-zero field record, a point record zero but
    // for word 38 = the feature number, both key outputs null; 0 = available.
    virtual int GenerateSignatureKeyPairDSTU4145(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                                 std::uint8_t* privateKey, std::uint8_t* publicKey) = 0;
    virtual const char* GetStoredString() = 0;
    // MAC, then simple-replacement encryption in place; tail is 8 bytes.
    virtual int ProtectDataGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                     const std::uint8_t* startVector, std::uint32_t* mac, std::uint8_t* tail,
                                     std::uint32_t* tailLength, const char* password, const std::uint8_t* key) = 0;
    virtual int UnprotectDataGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                       const std::uint8_t* startVector, std::uint32_t expectedMac,
                                       const std::uint8_t* tail, std::uint32_t tailLength, const char* password,
                                       const std::uint8_t* key) = 0;
    virtual int HashGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                              const std::uint8_t* startVector, std::uint8_t* hash) = 0;
    virtual int CompareHashGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                     const std::uint8_t* startVector, const std::uint8_t* expectedHash) = 0;
    virtual int HashDSTU7564(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                             std::uint32_t hashLength, std::uint8_t* hash) = 0;
    virtual int CompareHashDSTU7564(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                    std::uint32_t hashLength, const std::uint8_t* expectedHash) = 0;
    virtual int EncryptWithPasswordDSTU7624Ex(const std::uint8_t* data, std::uint32_t length, std::uint8_t* output,
                                              std::uint32_t outputSize, const std::uint8_t* parameterBlock,
                                              const char* password, const std::uint8_t* key, std::uint32_t keyLength,
                                              const std::uint8_t* iv, std::uint32_t blockLength,
                                              std::uint32_t macLength) = 0;
    // Decrypts in place; *data points into buffer afterwards.
    virtual int DecryptWithPasswordDSTU7624Ex(std::uint8_t* buffer, std::uint32_t size, std::uint8_t** data,
                                              std::uint32_t* length, const std::uint8_t* parameterBlock,
                                              const char* password, const std::uint8_t* key,
                                              std::uint32_t keyLength) = 0;
    virtual std::uint32_t CRC32Count(const std::uint8_t* data, std::uint32_t length) = 0;
};

class CSPParameters {
public:
    CSPParameters();
    ~CSPParameters();
    CSPParameters(const CSPParameters&) = delete;
    CSPParameters& operator=(const CSPParameters&) = delete;

    // 1. Text S-box file.
    virtual int LoadSBoxText(const char* path, GOST28147PackedSBox* sBox);
    // 2, 3. Text curve section, then text S-box section, from one file.
    virtual int LoadParametersText(const char* path, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                   GOST28147PackedSBox* sBox);
    virtual int LoadParametersTextEx(const char* path, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                     GOST28147PackedSBox* sBox);
    // 4. Nonzero flag: polynomial basis (index 0..9); zero: normal basis
    // (index 0..4). Out of range gives 0 and writes nothing.
    virtual int GetStandardCurve(int polynomialBasis, unsigned index, DSTU4145FieldRecord* field,
                                 DSTU4145PointRecord* point);
    // 5.
    virtual void SetCSP(ICSPParametersProvider* csp);
    // 6 to 13. Protected (GOST 28147 with a MAC) and checked (GOST 34.311 hash)
    // S-box and parameter files, optionally in a password envelope.
    virtual int LoadProtectedSBox(const char* path, GOST28147PackedSBox* sBox);
    virtual int LoadCheckedSBox(const char* path, GOST28147PackedSBox* sBox);
    virtual int LoadCheckedParameters(const char* path, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                      GOST28147PackedSBox* sBox);
    virtual int LoadProtectedParameters(const char* path, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                        GOST28147PackedSBox* sBox);
    virtual int SaveProtectedSBox(const char* path, const GOST28147PackedSBox* sBox);
    virtual int SaveCheckedSBox(const char* path, const GOST28147PackedSBox* sBox);
    virtual int SaveCheckedParameters(const char* path, const DSTU4145FieldRecord* field,
                                      const DSTU4145PointRecord* point, const GOST28147PackedSBox* sBox);
    virtual int SaveProtectedParameters(const char* path, const DSTU4145FieldRecord* field,
                                        const DSTU4145PointRecord* point, const GOST28147PackedSBox* sBox);
    // 14. Bit length of n, display name (Windows-1251) and OID; each output is
    // skipped when null; text buffers hold CSP_CURVE_TEXT_BYTES.
    virtual int GetStandardCurveInfo(int polynomialBasis, unsigned index, int* bits, char* name, char* oid);
    // 15. Exact OID match, polynomial-basis list first.
    virtual int FindStandardCurve(const char* oid, int* polynomialBasis, int* index);
    // 16. Standard S-box 0..9 (0 is the default one).
    virtual int GetStandardSBox(unsigned index, GOST28147PackedSBox* sBox);
    // 17, 18. 64-byte binary S-box file.
    virtual int LoadSBoxFile(const char* path, GOST28147PackedSBox* sBox);
    virtual int SaveSBoxFile(const char* path, const GOST28147PackedSBox* sBox);
    // 19. 288-byte file with a DSTU 7564 hash.
    virtual int SaveHashedParameters(const char* path, const DSTU4145FieldRecord* field,
                                     const DSTU4145PointRecord* point);
    // 20 to 24. DSTU 7624 S-box sets of CSP_DSTU_SBOX_SET_BYTES.
    virtual int LoadProtectedDSTUSBoxes(const char* path, std::uint8_t* sBoxes);
    virtual int SaveProtectedDSTUSBoxes(const char* path, const std::uint8_t* sBoxes);
    virtual int SaveProtectedDSTUSBoxesEx(const char* path, const std::uint8_t* sBoxes);
    virtual int LoadDSTUSBoxes(const char* path, std::uint8_t* sBoxes);
    virtual int LoadDSTUSBoxesEx(const char* path, std::uint8_t* sBoxes);
    // 25, 26. 1 when equal to the default set byte for byte.
    virtual int IsDefaultDSTUSBoxes(const std::uint8_t* sBoxes);
    virtual int IsDefaultDSTUSBoxesEx(const std::uint8_t* sBoxes);
    // 27, 28. Hashed data files. A null output reports the payload length.
    virtual int LoadHashedFile(const char* path, std::uint8_t* data, std::uint32_t* length);
    virtual int SaveHashedFile(const char* path, const std::uint8_t* data, int length);

    // A DSTU 7624 S-box set is usable when each of its four tables is a
    // permutation with nonlinearity of at least 100.
    static bool IsValidDSTUSBoxSet(const std::uint8_t* sBoxes);

private:
    ICSPParametersProvider* csp_;
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#endif
