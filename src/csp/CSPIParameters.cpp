// Parameter store of the CSPI: built-in curves, RSA profiles and DSA domain
// sets, the text S-box reader and the binary parameter files.
#include "csp/CSPIParameters.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string.h>

#include "crypto/ByteOrder.h"
#include "csp/CSPI.h"
#include "wemu.h"

namespace {

using qvkcrypto::LoadLE32;
using qvkcrypto::StoreLE16;
using qvkcrypto::StoreLE32;

constexpr std::uint32_t kHashBytes = 32;
constexpr std::uint32_t kSBoxBytes = sizeof(GOST28147PackedSBox);
constexpr std::uint32_t kProtectedSBoxFile = kSBoxBytes + 16;  // 80
// The largest checked file (96, 40 and 572 bytes are the others).
constexpr std::uint32_t kDomainFile = CSPI_DOMAIN_RECORD_BYTES + kHashBytes;
// The longest header word of a text S-box file.
constexpr std::size_t kMaxHeaderWord = 255;
constexpr std::size_t kSBoxTextValues = 128;

// Fixed key of the protected S-box file; every build that is to read another's
// files carries the same value.
const std::uint8_t kSBoxFileKey[32] = {0x51, 0x76, 0x6B, 0x37, 0x51, 0x2D, 0x49, 0x6E, 0x74, 0x6C, 0x2D,
                                       0x53, 0x2D, 0x62, 0x6F, 0x78, 0x2D, 0x47, 0x4F, 0x53, 0x54, 0x32,
                                       0x38, 0x31, 0x34, 0x37, 0x2D, 0x4B, 0x65, 0x79, 0x2D, 0x31};
const std::uint8_t kZeroStartVector[32] = {};

struct NamedText {
    const char* name;  // Windows-1251
    const char* oid;
};

struct CurveSource {
    std::uint16_t bits;
    const char* p;
    const char* a;
    const char* b;
    const char* seed;  // empty for the Brainpool curves
    const char* g;     // uncompressed point
    const char* n;
};

// Published parameters: FIPS 186 with the SEC 2 seeds for the NIST curves,
// RFC 5639 for the Brainpool r1 curves.
const CurveSource kCurveSources[CSPI_CURVE_COUNT] = {
    // prime192v1
    {
        192,
        "fffffffffffffffffffffffffffffffeffffffffffffffff",
        "fffffffffffffffffffffffffffffffefffffffffffffffc",
        "64210519e59c80e70fa7e9ab72243049feb8deecc146b9b1",
        "3045ae6fc8422f64ed579528d38120eae12196d5",
        "04188da80eb03090f67cbf20eb43a18800f4ff0afd82ff101207192b95ffc8da"
        "78631011ed6b24cdd573f977a11e794811",
        "ffffffffffffffffffffffff99def836146bc9b1b4d22831",
    },
    // brainpoolP192r1
    {
        192,
        "c302f41d932a36cda7a3463093d18db78fce476de1a86297",
        "6a91174076b1e0e19c39c031fe8685c1cae040e5c69a28ef",
        "469a28ef7c28cca3dc721d044f4496bcca7ef4146fbf25c9",
        "",
        "04c0a0647eaab6a48753b033c56cb0f0900a2f5c4853375fd614b690866abd5b"
        "b88b5f4828c1490002e6773fa2fa299b8f",
        "c302f41d932a36cda7a3462f9e9e916b5be8f1029ac4acc1",
    },
    // secp224r1
    {
        224,
        "ffffffffffffffffffffffffffffffff000000000000000000000001",
        "fffffffffffffffffffffffffffffffefffffffffffffffffffffffe",
        "b4050a850c04b3abf54132565044b0b7d7bfd8ba270b39432355ffb4",
        "bd71344799d5c7fcdc45b59fa3b9ab8f6a948bc5",
        "04b70e0cbd6bb4bf7f321390b94a03c1d356c21122343280d6115c1d21bd3763"
        "88b5f723fb4c22dfe6cd4375a05a07476444d5819985007e34",
        "ffffffffffffffffffffffffffff16a2e0b8f03e13dd29455c5c2a3d",
    },
    // brainpoolP224r1
    {
        224,
        "d7c134aa264366862a18302575d1d787b09f075797da89f57ec8c0ff",
        "68a5e62ca9ce6c1c299803a6c1530b514e182ad8b0042a59cad29f43",
        "2580f63ccfe44138870713b1a92369e33e2135d266dbb372386c400b",
        "",
        "040d9029ad2c7e5cf4340823b2a87dc68c9e4ce3174c1e6efdee12c07d58aa56"
        "f772c0726f24c6b89e4ecdac24354b9e99caa3f6d3761402cd",
        "d7c134aa264366862a18302575d0fb98d116bc4b6ddebca3a5a7939f",
    },
    // prime256v1
    {
        256,
        "ffffffff00000001000000000000000000000000ffffffffffffffffffffffff",
        "ffffffff00000001000000000000000000000000fffffffffffffffffffffffc",
        "5ac635d8aa3a93e7b3ebbd55769886bc651d06b0cc53b0f63bce3c3e27d2604b",
        "c49d360886e704936a6678e1139d26b7819f7e90",
        "046b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c2"
        "964fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51"
        "f5",
        "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551",
    },
    // brainpoolP256r1
    {
        256,
        "a9fb57dba1eea9bc3e660a909d838d726e3bf623d52620282013481d1f6e5377",
        "7d5a0975fc2c3057eef67530417affe7fb8055c126dc5c6ce94a4b44f330b5d9",
        "26dc5c6ce94a4b44f330b5d9bbd77cbf958416295cf7e1ce6bccdc18ff8c07b6",
        "",
        "048bd2aeb9cb7e57cb2c4b482ffc81b7afb9de27e1e3bd23c23a4453bd9ace32"
        "62547ef835c3dac4fd97f8461a14611dc9c27745132ded8e545c1d54c72f0469"
        "97",
        "a9fb57dba1eea9bc3e660a909d838d718c397aa3b561a6f7901e0e82974856a7",
    },
    // brainpoolP320r1
    {
        320,
        "d35e472036bc4fb7e13c785ed201e065f98fcfa6f6f40def4f92b9ec7893ec28"
        "fcd412b1f1b32e27",
        "3ee30b568fbab0f883ccebd46d3f3bb8a2a73513f5eb79da66190eb085ffa9f4"
        "92f375a97d860eb4",
        "520883949dfdbc42d3ad198640688a6fe13f41349554b49acc31dccd88453981"
        "6f5eb4ac8fb1f1a6",
        "",
        "0443bd7e9afb53d8b85289bcc48ee5bfe6f20137d10a087eb6e7871e2a10a599"
        "c710af8d0d39e2061114fdd05545ec1cc8ab4093247f77275e0743ffed117182"
        "eaa9c77877aaac6ac7d35245d1692e8ee1",
        "d35e472036bc4fb7e13c785ed201e065f98fcfa5b68f12a32d482ec7ee8658e9"
        "8691555b44c59311",
    },
    // secp384r1
    {
        384,
        "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffe"
        "ffffffff0000000000000000ffffffff",
        "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffe"
        "ffffffff0000000000000000fffffffc",
        "b3312fa7e23ee7e4988e056be3f82d19181d9c6efe8141120314088f5013875a"
        "c656398d8a2ed19d2a85c8edd3ec2aef",
        "a335926aa319a27a1d00896a6773a4827acdac73",
        "04aa87ca22be8b05378eb1c71ef320ad746e1d3b628ba79b9859f741e082542a"
        "385502f25dbf55296c3a545e3872760ab73617de4a96262c6f5d9e98bf9292dc"
        "29f8f41dbd289a147ce9da3113b5f0b8c00a60b1ce1d7e819d7a431d7c90ea0e"
        "5f",
        "ffffffffffffffffffffffffffffffffffffffffffffffffc7634d81f4372ddf"
        "581a0db248b0a77aecec196accc52973",
    },
    // brainpoolP384r1
    {
        384,
        "8cb91e82a3386d280f5d6f7e50e641df152f7109ed5456b412b1da197fb71123"
        "acd3a729901d1a71874700133107ec53",
        "7bc382c63d8c150c3c72080ace05afa0c2bea28e4fb22787139165efba91f90f"
        "8aa5814a503ad4eb04a8c7dd22ce2826",
        "04a8c7dd22ce28268b39b55416f0447c2fb77de107dcd2a62e880ea53eeb62d5"
        "7cb4390295dbc9943ab78696fa504c11",
        "",
        "041d1c64f068cf45ffa2a63a81b7c13f6b8847a3e77ef14fe3db7fcafe0cbd10"
        "e8e826e03436d646aaef87b2e247d4af1e8abe1d7520f9c2a45cb1eb8e95cfd5"
        "5262b70b29feec5864e19c054ff99129280e4646217791811142820341263c53"
        "15",
        "8cb91e82a3386d280f5d6f7e50e641df152f7109ed5456b31f166e6cac0425a7"
        "cf3ab6af6b7fc3103b883202e9046565",
    },
    // brainpoolP512r1
    {
        512,
        "aadd9db8dbe9c48b3fd4e6ae33c9fc07cb308db3b3c9d20ed6639cca70330871"
        "7d4d9b009bc66842aecda12ae6a380e62881ff2f2d82c68528aa6056583a48f3",
        "7830a3318b603b89e2327145ac234cc594cbdd8d3df91610a83441caea9863bc"
        "2ded5d5aa8253aa10a2ef1c98b9ac8b57f1117a72bf2c7b9e7c1ac4d77fc94ca",
        "3df91610a83441caea9863bc2ded5d5aa8253aa10a2ef1c98b9ac8b57f1117a7"
        "2bf2c7b9e7c1ac4d77fc94cadc083e67984050b75ebae5dd2809bd638016f723",
        "",
        "0481aee4bdd82ed9645a21322e9c4c6a9385ed9f70b5d916c1b43b62eef4d009"
        "8eff3b1f78e2d0d48d50d1687b93b97d5f7c6d5047406a5e688b352209bcb9f8"
        "227dde385d566332ecc0eabfa9cf7822fdf209f70024a57b1aa000c55b881f81"
        "11b2dcde494a5f485e5bca4bd88a2763aed1ca2b2fa8f0540678cd1e0f3ad808"
        "92",
        "aadd9db8dbe9c48b3fd4e6ae33c9fc07cb308db3b3c9d20ed6639cca70330870"
        "553e5c414ca92619418661197fac10471db1d381085ddaddb58796829ca90069",
    },
    // secp521r1
    {
        521,
        "01ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
        "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
        "ffff",
        "01ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
        "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
        "fffc",
        "0051953eb9618e1c9a1f929a21a0b68540eea2da725b99b315f3b8b489918ef1"
        "09e156193951ec7e937b1652c0bd3bb1bf073573df883d2c34f1ef451fd46b50"
        "3f00",
        "d09e8800291cb85396cc6717393284aaa0da64ba",
        "0400c6858e06b70404e9cd9e3ecb662395b4429c648139053fb521f828af606b"
        "4d3dbaa14b5e77efe75928fe1dc127a2ffa8de3348b3c1856a429bf97e7e31c2"
        "e5bd66011839296a789a3bc0045c8a5fb42c7d1bd998f54449579b446817afbd"
        "17273e662c97ee72995ef42640c550b9013fad0761353c7086a272c24088be94"
        "769fd16650",
        "01ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
        "fffa51868783bf2f966b7fcc0148f709a5d03bb5c9b8899c47aebb6fb71e9138"
        "6409",
    },
};

const std::uint32_t kCurveHashBits[CSPI_CURVE_COUNT] = {160, 160, 224, 224, 256, 256, 256, 256, 256, 384, 512};

const NamedText kCurveTexts[CSPI_CURVE_COUNT] = {
    {"NIST P-192 (secp192r1), 192 \xE1\xB3\xF2\xE0", "1.2.840.10045.3.1.1"},
    {"BrainpoolP192r1, 192 \xE1\xB3\xF2\xE0", "1.3.36.3.3.2.8.1.1.3"},
    {"NIST P-224 (secp224r1), 224 \xE1\xB3\xF2\xE0", "1.3.132.0.33"},
    {"BrainpoolP224r1, 224 \xE1\xB3\xF2\xE0", "1.3.36.3.3.2.8.1.1.5"},
    {"NIST P-256 (secp256r1), 256 \xE1\xB3\xF2", "1.2.840.10045.3.1.7"},
    {"BrainpoolP256r1, 256 \xE1\xB3\xF2", "1.3.36.3.3.2.8.1.1.7"},
    {"BrainpoolP320r1, 320 \xE1\xB3\xF2", "1.3.36.3.3.2.8.1.1.9"},
    {"NIST P-384 (secp384r1), 384 \xE1\xB3\xF2\xE0", "1.3.132.0.34"},
    {"BrainpoolP384r1, 384 \xE1\xB3\xF2\xE0", "1.3.36.3.3.2.8.1.1.11"},
    {"BrainpoolP512r1, 512 \xE1\xB3\xF2", "1.3.36.3.3.2.8.1.1.13"},
    {"NIST P-521 (secp521r1), 521 \xE1\xB3\xF2", "1.3.132.0.35"},
};

struct RSAProfile {
    std::uint32_t keyBits;
    std::uint32_t hashBits;
    NamedText text;
};

const RSAProfile kRSAProfiles[CSPI_RSA_PROFILE_COUNT] = {
    {1024, 160, {"1024 \xE1\xB3\xF2\xE0 (SHA-1)", "1.2.840.113549.1.1.5"}},
    {2048, 256, {"2048 \xE1\xB3\xF2 (SHA-256)", "1.2.840.113549.1.1.11"}},
    {3072, 384, {"3072 \xE1\xB3\xF2\xE0 (SHA-384)", "1.2.840.113549.1.1.12"}},
    {4096, 512, {"4096 \xE1\xB3\xF2 (SHA-512)", "1.2.840.113549.1.1.13"}},
};

struct DomainSource {
    std::uint32_t modulusBits;
    std::uint32_t subgroupBits;
    const char* p;
    const char* q;
    const char* g;
};

// The 1024/160, 2048/224 and 2048/256 groups with prime-order subgroups of
// RFC 5114.
const DomainSource kDomainSources[CSPI_DOMAIN_SET_COUNT] = {
    {
        1024,
        160,
        "b10b8f96a080e01dde92de5eae5d54ec52c99fbcfb06a3c69a6a9dca52d23b61"
        "6073e28675a23d189838ef1e2ee652c013ecb4aea906112324975c3cd49b83bf"
        "accbdd7d90c4bd7098488e9c219a73724effd6fae5644738faa31a4ff55bccc0"
        "a151af5f0dc8b4bd45bf37df365c1a65e68cfda76d4da708df1fb2bc2e4a4371",
        "f518aa8781a8df278aba4e7d64b7cb9d49462353",
        "a4d1cbd5c3fd34126765a442efb99905f8104dd258ac507fd6406cff14266d31"
        "266fea1e5c41564b777e690f5504f213160217b4b01b886a5e91547f9e2749f4"
        "d7fbd7d3b9a92ee1909d0d2263f80a76a6a24c087a091f531dbf0a0169b6a28a"
        "d662a4d18e73afa32d779d5918d08bc8858f4dcef97c2a24855e6eeb22b3b2e5",
    },
    {
        2048,
        224,
        "ad107e1e9123a9d0d660faa79559c51fa20d64e5683b9fd1b54b1597b61d0a75"
        "e6fa141df95a56dbaf9a3c407ba1df15eb3d688a309c180e1de6b85a1274a0a6"
        "6d3f8152ad6ac2129037c9edefda4df8d91e8fef55b7394b7ad5b7d0b6c12207"
        "c9f98d11ed34dbf6c6ba0b2c8bbc27be6a00e0a0b9c49708b3bf8a3170918836"
        "81286130bc8985db1602e714415d9330278273c7de31efdc7310f7121fd5a074"
        "15987d9adc0a486dcdf93acc44328387315d75e198c641a480cd86a1b9e587e8"
        "be60e69cc928b2b9c52172e413042e9b23f10b0e16e79763c9b53dcf4ba80a29"
        "e3fb73c16b8e75b97ef363e2ffa31f71cf9de5384e71b81c0ac4dffe0c10e64f",
        "801c0d34c58d93fe997177101f80535a4738cebcbf389a99b36371eb",
        "ac4032ef4f2d9ae39df30b5c8ffdac506cdebe7b89998caf74866a08cfe4ffe3"
        "a6824a4e10b9a6f0dd921f01a70c4afaab739d7700c29f52c57db17c620a8652"
        "be5e9001a8d66ad7c17669101999024af4d027275ac1348bb8a762d0521bc98a"
        "e247150422ea1ed409939d54da7460cdb5f6c6b250717cbef180eb34118e98d1"
        "19529a45d6f834566e3025e316a330efbb77a86f0c1ab15b051ae3d428c8f8ac"
        "b70a8137150b8eeb10e183edd19963ddd9e263e4770589ef6aa21e7f5f2ff381"
        "b539cce3409d13cd566afbb48d6c019181e1bcfe94b30269edfe72fe9b6aa4bd"
        "7b5a0f1c71cfff4c19c418e1f6ec017981bc087f2a7065b384b890d3191f2bfa",
    },
    {
        2048,
        256,
        "87a8e61db4b6663cffbbd19c651959998ceef608660dd0f25d2ceed4435e3b00"
        "e00df8f1d61957d4faf7df4561b2aa3016c3d91134096faa3bf4296d830e9a7c"
        "209e0c6497517abd5a8a9d306bcf67ed91f9e6725b4758c022e0b1ef4275bf7b"
        "6c5bfc11d45f9088b941f54eb1e59bb8bc39a0bf12307f5c4fdb70c581b23f76"
        "b63acae1caa6b7902d52526735488a0ef13c6d9a51bfa4ab3ad8347796524d8e"
        "f6a167b5a41825d967e144e5140564251ccacb83e6b486f6b3ca3f7971506026"
        "c0b857f689962856ded4010abd0be621c3a3960a54e710c375f26375d7014103"
        "a4b54330c198af126116d2276e11715f693877fad7ef09cadb094ae91e1a1597",
        "8cf83642a709a097b447997640129da299b1a47d1eb3750ba308b0fe64f5fbd3",
        "3fb32c9b73134d0b2e77506660edbd484ca7b18f21ef205407f4793a1a0ba125"
        "10dbc15077be463fff4fed4aac0bb555be3a6c1b0c6b47b1bc3773bf7e8c6f62"
        "901228f8c28cbb18a55ae31341000a650196f931c77a57f2ddf463e5e9ec144b"
        "777de62aaab8a8628ac376d282d6ed3864e67982428ebc831d14348f6f2f9193"
        "b5045af2767164e1dfc967c1fb3f2e55a4bd1bffe83b9c80d052b985d182ea0a"
        "db2a3b7313d3fe14c8484b1e052588b9b7d2bbd2df016199ecd06e1557cd0915"
        "b3353bbb64e0ec377fd028370df92b52c7891428cdc67eb6184b523d1db246c3"
        "2f63078490f00ef8d647d148d47954515e2327cfef98c582664b4c0f6cc41659",
    },
};

const std::uint32_t kDomainHashBits[CSPI_DOMAIN_SET_COUNT] = {160, 256, 256};

const NamedText kDomainTexts[CSPI_DOMAIN_SET_COUNT] = {
    {"MODP, 1024 \xE1\xB3\xF2\xE0 (SHA-1)", "1.2.840.10040.4.3"},
    {"MODP, 2048 \xE1\xB3\xF2 (SHA-224)", "2.16.840.1.101.3.4.3.1"},
    {"MODP, 2048 \xE1\xB3\xF2 (SHA-256)", "2.16.840.1.101.3.4.3.2"},
};

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Writes a hexadecimal number right-aligned into `size` bytes.
void PutNumber(std::uint8_t* out, std::size_t size, const char* hex)
{
    std::memset(out, 0, size);
    std::size_t digits = std::strlen(hex);
    std::size_t pos = size;
    for (std::size_t i = digits; i >= 2 && pos > 0; i -= 2)
        out[--pos] = static_cast<std::uint8_t>(HexDigit(hex[i - 2]) * 16 + HexDigit(hex[i - 1]));
    if (digits % 2 == 1 && pos > 0) out[--pos] = static_cast<std::uint8_t>(HexDigit(hex[0]));
}

void BuildCurveEntry(std::uint32_t index, std::uint8_t* entry)
{
    const CurveSource& c = kCurveSources[index];
    std::memset(entry, 0, CSPI_CURVE_ENTRY_BYTES);
    StoreLE16(entry + CSPI_CURVE_FIELD_BITS, c.bits);
    StoreLE16(entry + CSPI_CURVE_TYPE, 1);
    PutNumber(entry + CSPI_CURVE_P, CSPI_CURVE_NUMBER_BYTES, c.p);
    PutNumber(entry + CSPI_CURVE_A, CSPI_CURVE_NUMBER_BYTES, c.a);
    PutNumber(entry + CSPI_CURVE_B, CSPI_CURVE_NUMBER_BYTES, c.b);
    PutNumber(entry + CSPI_CURVE_SEED, CSPI_CURVE_NUMBER_BYTES, c.seed);
    PutNumber(entry + CSPI_CURVE_G, CSPI_CURVE_POINT_BYTES, c.g);
    PutNumber(entry + CSPI_CURVE_N, CSPI_CURVE_NUMBER_BYTES, c.n);
    StoreLE32(entry + CSPI_CURVE_HASH_BITS, kCurveHashBits[index]);
}

void BuildDomainRecord(std::uint32_t index, std::uint8_t* record)
{
    const DomainSource& d = kDomainSources[index];
    StoreLE32(record + CSPI_DOMAIN_MODULUS_BITS, d.modulusBits);
    StoreLE32(record + CSPI_DOMAIN_SUBGROUP_BITS, d.subgroupBits);
    PutNumber(record + CSPI_DOMAIN_P, CSPI_DOMAIN_NUMBER_BYTES, d.p);
    PutNumber(record + CSPI_DOMAIN_Q, CSPI_DOMAIN_NUMBER_BYTES, d.q);
    PutNumber(record + CSPI_DOMAIN_G, CSPI_DOMAIN_NUMBER_BYTES, d.g);
}

void CopyText(char* out, const char* text)
{
    if (out != nullptr) std::memcpy(out, text, std::strlen(text) + 1);
}

void PutWord(std::uint32_t* out, std::uint32_t value)
{
    if (out != nullptr) *out = value;
}

// Whole-file access through the Win32 layer.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool ok() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }
    void Close()
    {
        if (ok()) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_;
};

// The file must hold exactly `size` bytes.
bool ReadExact(const char* path, std::uint8_t* out, std::uint32_t size)
{
    FileHandle file(CreateFile(path, GENERIC_READ, 0, nullptr, 0, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) return false;
    DWORD actual = GetFileSize(file.get(), nullptr);
    if (actual == INVALID_FILE_SIZE || actual != size) return false;
    DWORD done = 0;
    return ReadFile(file.get(), out, size, &done, nullptr) != 0 && done == size;
}

// A short write deletes the file.
bool WriteAll(const char* path, const std::uint8_t* data, std::uint32_t size)
{
    FileHandle file(CreateFile(path, GENERIC_WRITE, 0, nullptr, 0x240, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) return false;
    DWORD done = 0;
    if (WriteFile(file.get(), data, size, &done, nullptr) == 0 || done != size) {
        file.Close();
        DeleteFile(path);
        return false;
    }
    return true;
}

// A record followed by its GOST 34.311 hash, checked through the owner.
int LoadChecked(CSPI* owner, const char* path, std::uint8_t* out, std::uint32_t recordSize)
{
    if (owner == nullptr) return 0;
    std::uint8_t image[kDomainFile];
    std::uint32_t fileSize = recordSize + kHashBytes;
    if (!ReadExact(path, image, fileSize)) return 0;
    if (owner->CompareHashGOST34311(image, recordSize, nullptr, kZeroStartVector, image + recordSize) != 0) return 0;
    std::memcpy(out, image, recordSize);
    return 1;
}

int SaveChecked(CSPI* owner, const char* path, const std::uint8_t* record, std::uint32_t recordSize)
{
    if (owner == nullptr) return 0;
    std::uint8_t image[kDomainFile];
    std::memcpy(image, record, recordSize);
    if (owner->HashGOST34311(image, recordSize, nullptr, kZeroStartVector, image + recordSize) != 0) return 0;
    return WriteAll(path, image, recordSize + kHashBytes) ? 1 : 0;
}

// Reads one white-space separated word of at most `limit` characters; false
// at the end of the file or for a longer word.
bool ReadWord(std::FILE* file, char* word, std::size_t limit)
{
    int c;
    do {
        c = std::fgetc(file);
    } while (c != EOF && std::isspace(c));
    if (c == EOF) return false;
    std::size_t length = 0;
    while (c != EOF && !std::isspace(c)) {
        if (length == limit) return false;
        word[length++] = static_cast<char>(c);
        c = std::fgetc(file);
    }
    word[length] = '\0';
    return true;
}

// A hexadecimal value, with or without 0x; only its low four bits count.
bool ParseNibble(const char* word, std::uint8_t* nibble)
{
    if (word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) word += 2;
    if (*word == '\0') return false;
    int last = 0;
    for (; *word != '\0'; ++word) {
        last = HexDigit(*word);
        if (last < 0) return false;
    }
    *nibble = static_cast<std::uint8_t>(last);
    return true;
}

}  // namespace

CSPIParameters::CSPIParameters() : owner_(nullptr) {}

CSPIParameters::~CSPIParameters() = default;

int CSPIParameters::LoadSBoxText(const char* path, GOST28147PackedSBox* sBox)
{
    std::FILE* file = std::fopen(path, "rt");
    if (file == nullptr) return 0;
    std::memset(sBox, 0, sizeof(*sBox));
    char word[kMaxHeaderWord + 1];
    bool ok = ReadWord(file, word, kMaxHeaderWord);
    std::uint8_t values[kSBoxTextValues] = {};
    for (std::size_t i = 0; ok && i < kSBoxTextValues; ++i)
        ok = ReadWord(file, word, kMaxHeaderWord) && ParseNibble(word, &values[i]);
    std::fclose(file);
    if (!ok) return 0;
    std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(sBox);
    for (std::size_t row = 0; row < 4; ++row) {
        for (std::size_t j = 0; j < 16; ++j) {
            std::uint8_t low = values[32 * row + j];
            std::uint8_t high = values[32 * row + 16 + j];
            bytes[16 * row + j] = static_cast<std::uint8_t>(low | (high << 4));
        }
    }
    return 1;
}

void CSPIParameters::SetCSPI(CSPI* owner)
{
    owner_ = owner;
}

int CSPIParameters::LoadSBoxFile(const char* path, GOST28147PackedSBox* sBox)
{
    if (owner_ == nullptr) return 0;
    std::uint8_t image[kProtectedSBoxFile];
    if (!ReadExact(path, image, kProtectedSBoxFile)) return 0;
    if (owner_->UnprotectDataGOST28147(image, kSBoxBytes, nullptr, kZeroStartVector, LoadLE32(image + 76), image + 64,
                                       LoadLE32(image + 72), nullptr, kSBoxFileKey) != 0) {
        explicit_bzero(image, sizeof(image));
        return 0;
    }
    std::memcpy(sBox, image, kSBoxBytes);
    explicit_bzero(image, sizeof(image));
    return 1;
}

int CSPIParameters::LoadSBoxFileEx(const char* path, GOST28147PackedSBox* sBox)
{
    return LoadChecked(owner_, path, reinterpret_cast<std::uint8_t*>(sBox), kSBoxBytes);
}

int CSPIParameters::SaveSBoxFile(const char* path, const GOST28147PackedSBox* sBox)
{
    if (owner_ == nullptr) return 0;
    std::uint8_t image[kProtectedSBoxFile] = {};
    std::memcpy(image, sBox, kSBoxBytes);
    std::uint32_t mac = 0;
    std::uint32_t tailLength = 0;
    if (owner_->ProtectDataGOST28147(image, kSBoxBytes, nullptr, kZeroStartVector, &mac, image + 64, &tailLength,
                                     nullptr, kSBoxFileKey) != 0)
        return 0;
    StoreLE32(image + 72, tailLength);
    StoreLE32(image + 76, mac);
    return WriteAll(path, image, kProtectedSBoxFile) ? 1 : 0;
}

int CSPIParameters::SaveSBoxFileEx(const char* path, const GOST28147PackedSBox* sBox)
{
    return SaveChecked(owner_, path, reinterpret_cast<const std::uint8_t*>(sBox), kSBoxBytes);
}

int CSPIParameters::LoadProfileFile(const char* path, std::uint8_t* record)
{
    return LoadChecked(owner_, path, record, CSPI_PROFILE_RECORD_BYTES);
}

int CSPIParameters::SaveProfileFile(const char* path, const std::uint8_t* record)
{
    return SaveChecked(owner_, path, record, CSPI_PROFILE_RECORD_BYTES);
}

int CSPIParameters::GetRSAProfile(std::uint32_t index, std::uint32_t* keyBits, std::uint32_t* hashBits)
{
    if (index >= CSPI_RSA_PROFILE_COUNT) return 0;
    PutWord(keyBits, kRSAProfiles[index].keyBits);
    PutWord(hashBits, kRSAProfiles[index].hashBits);
    return 1;
}

int CSPIParameters::DescribeRSAProfile(std::uint32_t index, std::uint32_t* keyBits, std::uint32_t* hashBits, char* name,
                                       char* oid)
{
    if (index >= CSPI_RSA_PROFILE_COUNT) return 0;
    PutWord(keyBits, kRSAProfiles[index].keyBits);
    PutWord(hashBits, kRSAProfiles[index].hashBits);
    CopyText(name, kRSAProfiles[index].text.name);
    CopyText(oid, kRSAProfiles[index].text.oid);
    return 1;
}

int CSPIParameters::LoadDomainParametersFile(const char* path, std::uint8_t* record)
{
    return LoadChecked(owner_, path, record, CSPI_DOMAIN_RECORD_BYTES);
}

int CSPIParameters::SaveDomainParametersFile(const char* path, const std::uint8_t* record)
{
    return SaveChecked(owner_, path, record, CSPI_DOMAIN_RECORD_BYTES);
}

int CSPIParameters::GetDomainParameters(std::uint32_t index, std::uint8_t* record, std::uint32_t* hashBits)
{
    if (index >= CSPI_DOMAIN_SET_COUNT) return 0;
    BuildDomainRecord(index, record);
    PutWord(hashBits, kDomainHashBits[index]);
    return 1;
}

int CSPIParameters::DescribeDomainParameters(std::uint32_t index, std::uint32_t* modulusBits, std::uint32_t* hashBits,
                                             char* name, char* oid)
{
    if (index >= CSPI_DOMAIN_SET_COUNT) return 0;
    PutWord(modulusBits, kDomainSources[index].modulusBits);
    PutWord(hashBits, kDomainHashBits[index]);
    CopyText(name, kDomainTexts[index].name);
    CopyText(oid, kDomainTexts[index].oid);
    return 1;
}

int CSPIParameters::LoadCurveFile(const char* path, std::uint8_t* entry)
{
    return LoadChecked(owner_, path, entry, CSPI_CURVE_ENTRY_BYTES);
}

int CSPIParameters::SaveCurveFile(const char* path, const std::uint8_t* entry)
{
    return SaveChecked(owner_, path, entry, CSPI_CURVE_ENTRY_BYTES);
}

int CSPIParameters::GetCurve(std::uint32_t index, std::uint8_t* entry)
{
    if (index >= CSPI_CURVE_COUNT) return 0;
    BuildCurveEntry(index, entry);
    return 1;
}

int CSPIParameters::DescribeCurve(std::uint32_t index, std::uint32_t* fieldBits, std::uint32_t* hashBits, char* name,
                                  char* oid)
{
    if (index >= CSPI_CURVE_COUNT) return 0;
    PutWord(fieldBits, kCurveSources[index].bits);
    PutWord(hashBits, kCurveHashBits[index]);
    CopyText(name, kCurveTexts[index].name);
    CopyText(oid, kCurveTexts[index].oid);
    return 1;
}

int CSPIParameters::FindCurveByOID(const char* oid, std::uint32_t* index)
{
    if (oid == nullptr) return 0;
    for (std::uint32_t i = 0; i < CSPI_CURVE_COUNT; ++i) {
        if (std::strcmp(oid, kCurveTexts[i].oid) == 0) {
            PutWord(index, i);
            return 1;
        }
    }
    return 0;
}
