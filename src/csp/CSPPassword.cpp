// Password-based encryption with DSTU 7624: the key is the caller's or the
// DSTU 7564 hash of a password, the data is encrypted in CBC mode under an IV
// (the caller's or a random one) and authenticated by a CMAC of the
// plaintext. Layout: IV (B), ciphertext (P), CMAC (M), flag byte.
#include <cstdint>
#include <cstring>
#include <vector>

#include "csp/CSPGuard.h"

using qvkcsp::Guarded;
using qvkcsp::SecureWipe;

namespace {

constexpr std::uint32_t kMaxKey = 64;

// The data length rounded up to whole blocks, 0 for empty data; in 64 bits so
// that a length near 4 GiB cannot wrap around to a small size.
std::uint64_t PaddedLength(std::uint32_t length, std::uint32_t block)
{
    return ((static_cast<std::uint64_t>(length) + block) * 8 - 1) / (static_cast<std::uint64_t>(block) * 8) * block;
}

// A failed encryption leaves nothing of its work in the output (no drawn IV,
// no copy of the plaintext, no MAC); only bytes that are the caller's own
// data, where it encrypts in place, are kept.
void WipeFailedOutput(std::uint8_t* output, std::uint32_t size, const std::uint8_t* data, std::uint32_t length)
{
    const auto begin = reinterpret_cast<std::uintptr_t>(output), end = begin + size;
    const auto dataBegin = reinterpret_cast<std::uintptr_t>(data), dataEnd = dataBegin + length;
    if (length == 0 || dataEnd <= begin || dataBegin >= end) {
        SecureWipe(output, size);
        return;
    }
    if (dataBegin > begin) SecureWipe(output, dataBegin - begin);
    if (dataEnd < end) SecureWipe(output + (dataEnd - begin), end - dataEnd);
}

}  // namespace

// The key to use: the hash of the password when one is given (it wins over a
// given key), else the given key.
int CSP::PasswordKey(const char* password, const std::uint8_t* parameterBlock, std::uint32_t keyLength,
                     const std::uint8_t* givenKey, std::uint8_t* keyBuffer, const std::uint8_t** key)
{
    if (password == nullptr) {
        *key = givenKey;
        return CSP_OK;
    }
    int result = HashDSTU7564(reinterpret_cast<const std::uint8_t*>(password),
                              static_cast<std::uint32_t>(std::strlen(password)), parameterBlock, keyLength, keyBuffer);
    *key = keyBuffer;
    return result;
}

int CSP::EncryptWithPasswordDSTU7624(const std::uint8_t* data, std::uint32_t length, std::uint8_t* output,
                                     std::uint32_t outputSize, const std::uint8_t* parameterBlock, const char* password,
                                     const std::uint8_t* key, std::uint32_t blockLength, const std::uint8_t* iv)
{
    return Guarded([&] {
        const std::uint32_t n = blockLength;
        if (n == 0 || n > kMaxKey || output == nullptr || (data == nullptr && length != 0)) return CSP_BAD_ARGUMENT;
        const std::uint64_t padded = PaddedLength(length, n);
        if (outputSize != padded + 2ull * n + 1 || (key == nullptr && password == nullptr)) return CSP_BAD_ARGUMENT;
        const auto p = static_cast<std::uint32_t>(padded);

        std::uint8_t keyBuffer[kMaxKey];
        const std::uint8_t* useKey = nullptr;
        int result = PasswordKey(password, parameterBlock, n, key, keyBuffer, &useKey);
        if (result == CSP_OK) {
            if (iv != nullptr)
                std::memmove(output, iv, n);
            else
                result = GenerateRandom(output, n);
        }
        if (result == CSP_OK) {
            if (length != 0) std::memmove(output + n, data, length);
            result = ComputeCMACDSTU7624(output + n, length, parameterBlock, useKey, n, n, output + n + p, n);
        }
        if (result == CSP_OK && p != 0)
            result = EncryptCBCDSTU7624(output + n, length, p, parameterBlock, useKey, n, output, n);
        if (result == CSP_OK)
            output[n + p + n] = length != p ? 1 : 0;
        else
            WipeFailedOutput(output, outputSize, data, length);
        SecureWipe(keyBuffer, sizeof keyBuffer);
        return result;
    });
}

int CSP::DecryptWithPasswordDSTU7624(std::uint8_t* buffer, std::uint32_t size, std::uint8_t** data,
                                     std::uint32_t* length, const std::uint8_t* parameterBlock, const char* password,
                                     const std::uint8_t* key, std::uint32_t blockLength)
{
    return Guarded([&] {
        const std::uint32_t n = blockLength;
        // Empty data is IV, MAC and flag: 2n + 1 bytes.
        if (n == 0 || n > kMaxKey || buffer == nullptr || data == nullptr || length == nullptr || size < 2ull * n + 1 ||
            (key == nullptr && password == nullptr))
            return CSP_BAD_ARGUMENT;
        std::uint8_t keyBuffer[kMaxKey];
        const std::uint8_t* useKey = nullptr;
        int result = PasswordKey(password, parameterBlock, n, key, keyBuffer, &useKey);
        if (result != CSP_OK) {
            SecureWipe(keyBuffer, sizeof keyBuffer);
            return result;
        }
        // Work on a copy: a wrong password must leave the caller's ciphertext
        // as it was.
        std::vector<std::uint8_t> work(buffer, buffer + size);
        std::uint32_t plain = size - 2 * n - 1;
        if (plain != 0)
            result =
                DecryptCBCDSTU7624(work.data() + n, &plain, work[size - 1], parameterBlock, useKey, n, work.data(), n);
        if (result == CSP_OK)
            result =
                CheckCMACDSTU7624(work.data() + n, plain, work.data() + size - 1 - n, n, parameterBlock, useKey, n, n);
        if (result == CSP_OK) {
            if (plain != 0) std::memcpy(buffer + n, work.data() + n, plain);
            *data = buffer + n;
            *length = plain;
        }
        SecureWipe(work.data(), work.size());
        SecureWipe(keyBuffer, sizeof keyBuffer);
        return result;
    });
}

int CSP::EncryptWithPasswordDSTU7624Ex(const std::uint8_t* data, std::uint32_t length, std::uint8_t* output,
                                       std::uint32_t outputSize, const std::uint8_t* parameterBlock,
                                       const char* password, const std::uint8_t* key, std::uint32_t keyLength,
                                       const std::uint8_t* iv, std::uint32_t blockLength, std::uint32_t macLength)
{
    return Guarded([&] {
        const std::uint32_t k = keyLength, b = blockLength, m = macLength;
        if (b == 0 || k > kMaxKey || output == nullptr || (data == nullptr && length != 0)) return CSP_BAD_ARGUMENT;
        std::uint32_t flags;
        if (k == b)
            flags = k == 64 ? 2 : 0;
        else if (k == 2 * b)
            flags = 4 | (k == 64 ? 2 : 0);
        else
            return CSP_BAD_ARGUMENT;
        // The flag byte names the MAC length as the key length shifted right
        // by 0 to 3, and a key of 16 bytes only in the basic format (g = 0):
        // anything else could never be decrypted again.
        std::uint32_t g = 0;
        while (g < 3 && (static_cast<std::uint64_t>(m) << g) < k) ++g;
        if (m == 0 || (static_cast<std::uint64_t>(m) << g) != k) return CSP_BAD_ARGUMENT;
        if (k == 16 && g != 0) return CSP_BAD_ARGUMENT;
        const std::uint64_t padded = PaddedLength(length, b);
        flags |= g * 8;
        if (length != padded) flags |= 1;
        if (outputSize != b + padded + m + 1 || (key == nullptr && password == nullptr)) return CSP_BAD_ARGUMENT;
        const auto p = static_cast<std::uint32_t>(padded);

        std::uint8_t keyBuffer[kMaxKey];
        const std::uint8_t* useKey = nullptr;
        int result = PasswordKey(password, parameterBlock, k, key, keyBuffer, &useKey);
        if (result == CSP_OK) {
            if (iv != nullptr)
                std::memmove(output, iv, b);
            else
                result = GenerateRandom(output, b);
        }
        if (result == CSP_OK) {
            if (length != 0) std::memmove(output + b, data, length);
            result = ComputeCMACDSTU7624(output + b, length, parameterBlock, useKey, k, b, output + b + p, m);
        }
        if (result == CSP_OK && p != 0)
            result = EncryptCBCDSTU7624(output + b, length, p, parameterBlock, useKey, k, output, b);
        if (result == CSP_OK)
            output[b + p + m] = static_cast<std::uint8_t>(flags);
        else
            WipeFailedOutput(output, outputSize, data, length);
        SecureWipe(keyBuffer, sizeof keyBuffer);
        return result;
    });
}

int CSP::DecryptWithPasswordDSTU7624Ex(std::uint8_t* buffer, std::uint32_t size, std::uint8_t** data,
                                       std::uint32_t* length, const std::uint8_t* parameterBlock, const char* password,
                                       const std::uint8_t* key, std::uint32_t keyLength)
{
    return Guarded([&] {
        if (size == 0 || buffer == nullptr || data == nullptr || length == nullptr) return CSP_BAD_ARGUMENT;
        const std::uint8_t flags = buffer[size - 1];
        const std::uint32_t k = (flags & 2) ? 64 : 32;
        const std::uint32_t b = (flags & 4) ? k / 2 : k;
        const std::uint32_t m = (flags & 0x18) ? k >> ((flags / 8) & 3) : k;
        // Empty data is IV, MAC and flag.
        if (size < static_cast<std::uint64_t>(b) + m + 1 || (key == nullptr && password == nullptr))
            return CSP_BAD_ARGUMENT;
        if (password == nullptr && keyLength != k) return CSP_BAD_ARGUMENT;
        std::uint8_t keyBuffer[kMaxKey];
        const std::uint8_t* useKey = nullptr;
        int result = PasswordKey(password, parameterBlock, k, key, keyBuffer, &useKey);
        if (result != CSP_OK) {
            SecureWipe(keyBuffer, sizeof keyBuffer);
            return result;
        }
        std::vector<std::uint8_t> work(buffer, buffer + size);
        std::uint32_t plain = size - b - m - 1;
        if (plain != 0)
            result = DecryptCBCDSTU7624(work.data() + b, &plain, flags & 1, parameterBlock, useKey, k, work.data(), b);
        if (result == CSP_OK)
            result =
                CheckCMACDSTU7624(work.data() + b, plain, work.data() + size - 1 - m, m, parameterBlock, useKey, k, b);
        if (result == CSP_OK) {
            if (plain != 0) std::memcpy(buffer + b, work.data() + b, plain);
            *data = buffer + b;
            *length = plain;
        }
        SecureWipe(work.data(), work.size());
        SecureWipe(keyBuffer, sizeof keyBuffer);
        return result;
    });
}
