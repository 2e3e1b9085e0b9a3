// Secrets in freed memory: this program's operator delete looks into every
// block handed back while a watch is armed and counts the blocks that still
// hold a watched value (a key value, a PIN in any of the forms it takes on its
// way to the key). Attribute values, the temporaries made from them and the
// PIN's conversions must all be wiped before their memory goes.
#include <gtest/gtest.h>
#include <malloc.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "KeyDeviceTest.h"
#include "crypto/SecureWipe.h"
#include "pkcs11/PKCS11Attribute.h"
#include "pkcs11/PKCS11Object.h"
#include "pkcs11/PKCS11PKI.h"
#include "pkcs11/PKCS11Text.h"

namespace {

struct Needle {
    const void* bytes;
    std::size_t length;
};

constexpr std::size_t kMaxNeedles = 4;
std::atomic<bool> armed{false};
std::atomic<int> freedBlocks{0};
std::atomic<int> blocksWithSecrets{0};
Needle needles[kMaxNeedles];
std::size_t needleCount = 0;

void Inspect(void* block) noexcept
{
    if (block == nullptr || !armed.load()) return;
    const std::size_t size = malloc_usable_size(block);
    ++freedBlocks;
    for (std::size_t i = 0; i < needleCount; ++i) {
        if (memmem(block, size, needles[i].bytes, needles[i].length) != nullptr) {
            ++blocksWithSecrets;
            return;
        }
    }
}

// Watches the freed blocks for the given values for as long as it lives.
class FreedMemoryWatch {
public:
    FreedMemoryWatch(std::initializer_list<Needle> watched)
    {
        needleCount = 0;
        for (const Needle& n : watched) needles[needleCount++] = n;
        freedBlocks = 0;
        blocksWithSecrets = 0;
        armed = true;
    }
    ~FreedMemoryWatch() { armed = false; }
    FreedMemoryWatch(const FreedMemoryWatch&) = delete;
    FreedMemoryWatch& operator=(const FreedMemoryWatch&) = delete;
    int Freed() const { return freedBlocks.load(); }
    int WithSecrets() const { return blocksWithSecrets.load(); }
};

template <std::size_t N>
Needle Of(const std::array<std::uint8_t, N>& value)
{
    return {value.data(), N};
}

// Values that no other byte run in the process is likely to contain.
template <std::size_t N>
std::array<std::uint8_t, N> Pattern(std::uint8_t seed)
{
    std::array<std::uint8_t, N> a{};
    for (std::size_t i = 0; i < N; ++i) a[i] = static_cast<std::uint8_t>(seed + i * 37 + (i >> 2) * 101);
    return a;
}

}  // namespace

void* operator new(std::size_t size)
{
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size)
{
    return ::operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept
{
    Inspect(p);
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    ::operator delete(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    ::operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    ::operator delete(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    ::operator delete(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    ::operator delete(p);
}

namespace {

TEST(SecretMemory, TheWatchSeesAValueLeftInAnOrdinaryBuffer)
{
    // Without this the other tests could pass by seeing nothing at all.
    const auto value = Pattern<32>(0x31);
    FreedMemoryWatch watch({Of(value)});
    auto* plain = new std::vector<std::uint8_t>(value.begin(), value.end());
    delete plain;
    EXPECT_EQ(watch.WithSecrets(), 1);
    EXPECT_GE(watch.Freed(), 2);
}

TEST(SecretMemory, KeyValuesLeaveNothingWhenReplacedCopiedOrReleased)
{
    const auto first = Pattern<32>(0x5B);
    const auto second = Pattern<32>(0xC7);
    FreedMemoryWatch watch({Of(first), Of(second)});
    {
        // A secret key object whose value is replaced, copied and read.
        CK_OBJECT_CLASS objectClass = CKO_SECRET_KEY;
        CK_KEY_TYPE keyType = CKK_GOST28147;
        CK_ATTRIBUTE entries[] = {{CKA_CLASS, &objectClass, sizeof(objectClass)},
                                  {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                                  {CKA_VALUE, const_cast<std::uint8_t*>(first.data()), first.size()}};
        PKCS11ObjectPtr key;
        ASSERT_EQ(CreateObjectForClass(objectClass, entries, 3, false, key.Address()), CKR_OK);
        CK_ATTRIBUTE replacement{CKA_VALUE, const_cast<std::uint8_t*>(second.data()), second.size()};
        ASSERT_EQ(key->ApplyTemplate(&replacement, 1, false), CKR_OK);
        PKCS11Template* copy = nullptr;
        ASSERT_EQ(key->Clone(&copy), CKR_OK);
        copy->Release();
        const std::uint8_t* held = nullptr;
        CK_ULONG heldLength = 0;
        ASSERT_EQ(key->GetValueOf(CKA_VALUE, &held, &heldLength), CKR_OK);
        ASSERT_EQ(heldLength, second.size());
        EXPECT_EQ(std::memcmp(held, second.data(), second.size()), 0);
    }
    {
        // One attribute through value, default, reset, clone and an empty value.
        PKCS11Attribute attribute(CKA_VALUE);
        ASSERT_EQ(attribute.SetValue(first.data(), first.size()), CKR_OK);
        ASSERT_EQ(attribute.SetDefaultValue(second.data(), second.size()), CKR_OK);
        ASSERT_EQ(attribute.ResetToDefault(), CKR_OK);
        PKCS11Attribute* clone = nullptr;
        ASSERT_EQ(attribute.Clone(&clone), CKR_OK);
        clone->Release();
        ASSERT_EQ(attribute.SetValue(nullptr, 0), CKR_OK);
    }
    {
        // The temporary form the module hands between its layers.
        CK_ATTRIBUTE made{0, nullptr, 0};
        ASSERT_TRUE(MakeAttribute(CKA_VALUE, first.data(), first.size(), &made));
        FreeAttributeValue(&made);
    }
    {
        // The buffer type itself, grown one byte at a time.
        qvkcrypto::SecureBytes grown;
        for (std::uint8_t b : second) grown.push_back(b);
        qvkcrypto::SecureBytes moved = std::move(grown);
    }
    EXPECT_EQ(watch.WithSecrets(), 0);
    EXPECT_GT(watch.Freed(), 10);
}

class SecretMemoryOnAKey : public KeyDeviceTest {};

TEST_F(SecretMemoryOnAKey, APinLeavesNothingOnItsWayToTheKey)
{
    ASSERT_NO_FATAL_FAILURE(StartOnKey(91));
    static const char kPin[] = "Qv7#rT9!mZ2x";
    const std::size_t length = sizeof(kPin) - 1;
    // The forms it takes: as given (and in Windows-1251, the same bytes for
    // this text) and as wide characters inside the conversion.
    std::array<wchar_t, sizeof(kPin) - 1> wide{};
    for (std::size_t i = 0; i < length; ++i) wide[i] = static_cast<wchar_t>(kPin[i]);
    FreedMemoryWatch watch({{kPin, length}, {wide.data(), sizeof(wide)}});
    ASSERT_EQ(device_->SetPIN(CKU_USER, kPin, static_cast<std::uint32_t>(length)), CKR_OK);
    ASSERT_EQ(device_->Logout(), CKR_OK);
    ASSERT_EQ(device_->Login(kPin, static_cast<std::uint32_t>(length)), CKR_OK);
    EXPECT_EQ(device_->Login("Qv7#rT9!mZ2y", static_cast<std::uint32_t>(length)), CKR_PIN_INCORRECT);
    char converted[32] = {};
    CK_ULONG convertedLength = 0;
    ASSERT_EQ(Utf8ToCp1251(kPin, length, converted, &convertedLength), CKR_OK);
    qvkcrypto::SecureWipe(converted, sizeof(converted));
    EXPECT_EQ(watch.WithSecrets(), 0);
    EXPECT_GT(watch.Freed(), 0);
}

}  // namespace
