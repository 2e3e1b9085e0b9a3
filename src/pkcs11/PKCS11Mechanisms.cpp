#include "pkcs11/PKCS11Mechanisms.h"

#include "pkcs11/PKCS11ObjectManager.h"

namespace {

constexpr std::uint32_t Use(std::uint32_t kind)
{
    return 1u << kind;
}

constexpr CK_FLAGS EC_CURVES = CKF_EC_F_2M | CKF_EC_ECPARAMETERS | CKF_EC_NAMEDCURVE | CKF_EC_COMPRESS;
constexpr CK_MECHANISM_INFO CIPHER{32, 32, CKF_HW | CKF_ENCRYPT | CKF_DECRYPT};
constexpr CK_MECHANISM_INFO MAC{32, 32, CKF_HW | CKF_SIGN | CKF_VERIFY};
constexpr CK_MECHANISM_INFO WRAP{32, 32, CKF_HW | CKF_WRAP | CKF_UNWRAP};
constexpr CK_MECHANISM_INFO DIGEST{0, 0, CKF_HW | CKF_DIGEST};
constexpr CK_MECHANISM_INFO SIGN{163, 509, CKF_HW | CKF_SIGN | CKF_VERIFY | EC_CURVES};
constexpr CK_MECHANISM_INFO KEY_GEN{32, 32, CKF_HW | CKF_GENERATE};
constexpr CK_MECHANISM_INFO KEY_PAIR_GEN{163, 509, CKF_HW | CKF_GENERATE_KEY_PAIR | EC_CURVES};
constexpr CK_MECHANISM_INFO DERIVE{163, 509, CKF_HW | CKF_DERIVE | CKF_EC_F_2M | CKF_EC_COMPRESS};
constexpr CK_MECHANISM_INFO NONE{0, 0, 0};

constexpr std::uint32_t SIGNING = Use(KEY_USAGE_SIGN) | Use(KEY_USAGE_VERIFY);
constexpr std::uint32_t WRAPPING = Use(KEY_USAGE_WRAP) | Use(KEY_USAGE_UNWRAP);
constexpr std::uint32_t DERIVING = Use(KEY_USAGE_DERIVE);

using F = MechanismFamily;

constexpr PKCS11Mechanism TABLE[] = {
    {CKM_GOST28147_CIPHER_1, F::Base, true, CIPHER, CKK_GOST28147, 0},
    {CKM_GOST28147_CIPHER_2, F::Base, true, CIPHER, CKK_GOST28147, 0},
    {CKM_GOST28147_CIPHER_3, F::Base, true, CIPHER, CKK_GOST28147, 0},
    {CKM_GOST28147_MAC, F::Base, true, MAC, CKK_GOST28147, 0},
    {CKM_GOST28147_KEY_WRAP, F::Base, true, WRAP, CKK_GOST28147, WRAPPING},
    {CKM_GOST34311, F::Base, true, DIGEST, 0, 0},
    {CKM_DSTU4145, F::Base, true, SIGN, CKK_DSTU4145, SIGNING},
    {CKM_DSTU4145_GOST34311, F::Base, true, SIGN, CKK_DSTU4145, SIGNING},
    {CKM_GOST28147_KEY_GEN, F::Base, true, KEY_GEN, CKK_GOST28147, 0},
    {CKM_DSTU4145_KEY_PAIR_GEN, F::Base, true, KEY_PAIR_GEN, CKK_DSTU4145, 0},
    {CKM_DSTU4145_DERIVE, F::Base, true, DERIVE, CKK_DSTU4145, DERIVING},
    {CKM_DSTU4145_DERIVE_EXT, F::Base, true, DERIVE, CKK_DSTU4145, DERIVING},
    {CKM_DIGEST_ALT_256, F::Base, true, DIGEST, 0, 0},
    {CKM_DSTU7564_256, F::Base, true, DIGEST, 0, 0},
    {CKM_DSTU7564_384, F::Base, true, DIGEST, 0, 0},
    {CKM_DSTU7564_512, F::Base, true, DIGEST, 0, 0},
    {CKM_DSTU4145_ALT, F::Base, true, SIGN, CKK_DSTU4145, SIGNING},
    {CKM_DSTU4145_DSTU7564_256, F::Base, true, SIGN, CKK_DSTU4145, SIGNING},
    {CKM_DSTU4145_DSTU7564_384, F::ExtendedHashes, true, SIGN, CKK_DSTU4145, SIGNING},
    {CKM_DSTU4145_DSTU7564_512, F::ExtendedHashes, true, SIGN, CKK_DSTU4145, SIGNING},
    {CKM_DSTU7624_KEY_GEN, F::ExtendedCiphers, true, KEY_GEN, CKK_DSTU7624, 0},
    {CKM_DSTU7624_KEY_WRAP, F::ExtendedCiphers, true, WRAP, CKK_DSTU7624, WRAPPING},
    {CKM_VENDOR_EXT_1, F::ExtendedCiphers, false, NONE, 0, 0},
    {CKM_VENDOR_EXT_2, F::ExtendedCiphers, false, NONE, 0, 0},
    {CKM_VENDOR_EXT_3, F::ExtendedCiphers, false, NONE, 0, 0},
};

}  // namespace

std::span<const PKCS11Mechanism> Mechanisms()
{
    return TABLE;
}

const PKCS11Mechanism* FindMechanism(CK_MECHANISM_TYPE type)
{
    for (const PKCS11Mechanism& m : TABLE)
        if (m.type == type) return &m;
    return nullptr;
}
