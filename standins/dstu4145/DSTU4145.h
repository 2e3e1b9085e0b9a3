// DSTU 4145-2002 signatures, key pairs and key agreement over binary-field
// curves y^2 + xy = x^3 + Ax^2 + B in a polynomial basis.
//
// Shared by the stand-ins that need the arithmetic (the emulated key and the
// stand-in crypto libraries) and by tests. Encodings are fixed here once and
// used everywhere:
//   - every number and field element is little-endian bytes (byte 0 least
//     significant); inputs may be longer than needed when the extra high
//     bytes are zero;
//   - a field element and a public key (the compressed point) take
//     (m + 7) / 8 bytes;
//   - a private key and the nonce take ceil(nBits / 8) bytes;
//   - a signature is r then s, each ceil(nBits / 8) bytes.
// Hash bytes are read as a little-endian number too (byte 0 least
// significant) and cut to its m low bits; a zero result counts as 1.
#ifndef QVK_STANDINS_DSTU4145_DSTU4145_H
#define QVK_STANDINS_DSTU4145_DSTU4145_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace dstu4145 {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;

enum class Result {
    Ok = 0,
    BadParameters,  // the curve is malformed or inconsistent
    NormalBasis,    // a curve over an optimal normal basis: not supported
    BadKey,         // private key out of range, or a public key not on the curve
    BadSignature,   // the signature does not verify or is malformed
    BadHash,        // empty hash
    BadNonce,       // a caller-given nonce out of range or giving r = 0 or s = 0
    RandomFailure,  // the random generator failed
    InternalError   // the arithmetic library failed
};

const char* ResultText(Result result);

// Record sizes of the curve form that the support layer passes around.
constexpr std::size_t kFieldRecordWords = 25;
constexpr std::size_t kPointRecordWords = 39;
constexpr std::size_t kDeviceKeyParametersBytes = 240;

// One curve. The base point is kept compressed, as the curve records hold it.
struct Curve {
    int m = 0;                // field degree
    int k = 0, j = 0, l = 0;  // f(t) = t^m + t^k + t^j + t^l + 1; a trinomial has j = l = 0
    int a = 0;                // coefficient A, 0 or 1
    Bytes b;                  // coefficient B
    Bytes n;                  // order of the base point
    Bytes p;                  // base point, compressed
    int nBits = 0;            // bit length of n; 0 = take it from n
};

// From the raw 25-word field record and 39-word point record (words
// little-endian by word). Word 24 of the field record (the cofactor) is not
// trusted: callers use it as a flag word, and the cofactor follows from A.
// A record without field polynomial (k, j and l all zero) is a normal-basis
// curve and gives NormalBasis; m = 0 gives BadParameters.
Result CurveFromRecords(const std::uint32_t* field, const std::uint32_t* point, Curve& out);

// The inverse: word 24 = cofactor (2 when A = 1, else 4), word 38 = bit length
// of n, all words above each number zero. BadParameters when a number does
// not fit its words.
Result CurveToRecords(const Curve& curve, std::uint32_t* field, std::uint32_t* point);

// From the key's 240-byte parameter record: m, k, j, l, A, cofactor (4 bytes
// each), then B, n and the compressed base point in 72 bytes each.
Result CurveFromDeviceKeyParameters(ByteSpan record, Curve& out);
Result CurveToDeviceKeyParameters(const Curve& curve, std::uint8_t* record);

// A checked curve, ready for work. Create checks the field polynomial, B, the
// base point, n (prime, n * P = O, and cofactor * n within the Hasse bound)
// and refuses normal-basis curves. Const operations may run concurrently.
class Engine {
public:
    static std::unique_ptr<Engine> Create(const Curve& curve, Result* why = nullptr);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    int M() const;
    int NBits() const;
    int Cofactor() const;                // 2 when A = 1, 4 when A = 0
    std::size_t FieldBytes() const;      // (m + 7) / 8
    std::size_t OrderBytes() const;      // ceil(nBits / 8)
    std::size_t SignatureBytes() const;  // 2 * OrderBytes()

    // New key pair: d random in [1, n - 1], Q = -dP, compressed.
    Result GenerateKey(Bytes& privateKey, Bytes& publicKey) const;
    Result PublicFromPrivate(ByteSpan privateKey, Bytes& publicKey) const;
    // A public key that decompresses to a point of order n.
    Result CheckPublicKey(ByteSpan publicKey) const;
    // How many times a public key was decompressed and checked. Verify and
    // Agree keep the last keys that passed and check each only once.
    unsigned long PublicKeyChecks() const;

    // Signs; the nonce e is random unless given (then it must lie in
    // [1, n - 1] and give nonzero r and s, else BadNonce).
    Result Sign(ByteSpan hash, ByteSpan privateKey, Bytes& signature, ByteSpan nonce = {}) const;
    // Ok or BadSignature (BadKey for a public key off the curve, BadHash for
    // an empty hash). The signature buffer may be longer than
    // SignatureBytes() when the extra bytes are zero (the key pads its
    // answers).
    Result Verify(ByteSpan hash, ByteSpan publicKey, ByteSpan signature) const;

    // Key agreement: Z = cofactor * d * Q. Both parties get the same point:
    // dA * QB = -dA * dB * P = dB * QA. x and, when asked, y of Z are written
    // in FieldBytes() bytes each.
    Result Agree(ByteSpan privateKey, ByteSpan peerPublicKey, Bytes& sharedX, Bytes* sharedY = nullptr) const;

    // Point compression of the standard: x with its bit 0 replaced by
    // Tr(y / x). Only points of order n compress (BadKey otherwise): for
    // others the bit cannot bring the point back.
    Result Compress(ByteSpan x, ByteSpan y, Bytes& compressed) const;
    Result Decompress(ByteSpan compressed, Bytes& x, Bytes& y) const;

    // Two-party signing: each party draws a nonce e_i and publishes
    // R_i = e_i * P; r = trunc(h * x(R_1 + R_2)); s_i = e_i + d_i * r mod n and
    // s = s_1 + s_2 mod n, so (r, s) verifies under Q_1 + Q_2.
    Result AddPublicKeys(ByteSpan first, ByteSpan second, Bytes& sum) const;  // compressed points
    Result CommitNonce(ByteSpan nonce, Bytes& point) const;                   // e * P, compressed
    Result RFromPoint(ByteSpan hash, ByteSpan point, Bytes& r) const;         // BadNonce when r = 0
    // e + d * r mod n; with d empty, e + r mod n. Scalars in OrderBytes().
    Result ScalarMulAdd(ByteSpan e, ByteSpan d, ByteSpan r, Bytes& out) const;

    // Field helpers exposed for tests and for callers mapping hashes.
    int Trace(ByteSpan element) const;  // -1 when not a field element
    Result HashToField(ByteSpan hash, Bytes& element) const;

private:
    struct State;
    explicit Engine(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace dstu4145

#endif
