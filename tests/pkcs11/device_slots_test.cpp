// The framework reaches a token driver only by the position of each
// operation in PKCS11Device's table: all 52 are checked, on the interface
// and on the key's driver object (whose table must start with the same 52).
#include <gtest/gtest.h>

#include <type_traits>

#include "VirtualSlot.h"
#include "pkcs11/PKCS11Device.h"
#include "pkcs11driver/PKCS11QuorKorvo7Q.h"

namespace {

using qvktest::SlotOf;
using D = PKCS11Device;
using Q = PKCS11QuorKorvo7Q;

struct Slot {
    const char* name;
    std::ptrdiff_t onInterface;
    std::ptrdiff_t onDriver;
};

TEST(Pkcs11DeviceSlots, TheFiftyTwoOperationsKeepTheirOrder)
{
    static_assert(!std::has_virtual_destructor_v<PKCS11Device>);
    static_assert(std::is_polymorphic_v<PKCS11Device> && sizeof(PKCS11Device) == sizeof(void*));
    const Slot slots[] = {
        {"Release", SlotOf(&D::Release), SlotOf(&Q::Release)},
        {"Open", SlotOf(&D::Open), SlotOf(&Q::Open)},
        {"Close", SlotOf(&D::Close), SlotOf(&Q::Close)},
        {"FillTokenInfo", SlotOf(&D::FillTokenInfo), SlotOf(&Q::FillTokenInfo)},
        {"IsPresent", SlotOf(&D::IsPresent), SlotOf(&Q::IsPresent)},
        {"Login", SlotOf(&D::Login), SlotOf(&Q::Login)},
        {"Logout", SlotOf(&D::Logout), SlotOf(&Q::Logout)},
        {"InitToken", SlotOf(&D::InitToken), SlotOf(&Q::InitToken)},
        {"SetPIN", SlotOf(&D::SetPIN), SlotOf(&Q::SetPIN)},
        {"VerifyPINRecord", SlotOf(&D::VerifyPINRecord), SlotOf(&Q::VerifyPINRecord)},
        {"UpdatePINRecord", SlotOf(&D::UpdatePINRecord), SlotOf(&Q::UpdatePINRecord)},
        {"ReadStorageArea", SlotOf(&D::ReadStorageArea), SlotOf(&Q::ReadStorageArea)},
        {"WriteStorageArea", SlotOf(&D::WriteStorageArea), SlotOf(&Q::WriteStorageArea)},
        {"EraseStorageArea", SlotOf(&D::EraseStorageArea), SlotOf(&Q::EraseStorageArea)},
        {"GetTokenRecordSize", SlotOf(&D::GetTokenRecordSize), SlotOf(&Q::GetTokenRecordSize)},
        {"GetDefaultTokenFlags", SlotOf(&D::GetDefaultTokenFlags), SlotOf(&Q::GetDefaultTokenFlags)},
        {"GetAreaCapacity", SlotOf(&D::GetAreaCapacity), SlotOf(&Q::GetAreaCapacity)},
        {"GetFreeMemory", SlotOf(&D::GetFreeMemory), SlotOf(&Q::GetFreeMemory)},
        {"SetFreeMemory", SlotOf(&D::SetFreeMemory), SlotOf(&Q::SetFreeMemory)},
        {"CanInitToken", SlotOf(&D::CanInitToken), SlotOf(&Q::CanInitToken)},
        {"GenerateRandom", SlotOf(&D::GenerateRandom), SlotOf(&Q::GenerateRandom)},
        {"GenerateKeyPair", SlotOf(&D::GenerateKeyPair), SlotOf(&Q::GenerateKeyPair)},
        {"DeriveKey", SlotOf(&D::DeriveKey), SlotOf(&Q::DeriveKey)},
        {"SignHash32", SlotOf(&D::SignHash32), SlotOf(&Q::SignHash32)},
        {"WrapKeyOld", SlotOf(&D::WrapKeyOld), SlotOf(&Q::WrapKeyOld)},
        {"UnwrapKeyOld", SlotOf(&D::UnwrapKeyOld), SlotOf(&Q::UnwrapKeyOld)},
        {"ReservedOperationA", SlotOf(&D::ReservedOperationA), SlotOf(&Q::ReservedOperationA)},
        {"UsesTokenContexts", SlotOf(&D::UsesTokenContexts), SlotOf(&Q::UsesTokenContexts)},
        {"CloseSessionContexts", SlotOf(&D::CloseSessionContexts), SlotOf(&Q::CloseSessionContexts)},
        {"SynchronizeContexts", SlotOf(&D::SynchronizeContexts), SlotOf(&Q::SynchronizeContexts)},
        {"StoreObjectValue", SlotOf(&D::StoreObjectValue), SlotOf(&Q::StoreObjectValue)},
        {"IsConnected", SlotOf(&D::IsConnected), SlotOf(&Q::IsConnected)},
        {"ReleaseOthers", SlotOf(&D::ReleaseOthers), SlotOf(&Q::ReleaseOthers)},
        {"DeleteDSTU4145PrivateKey", SlotOf(&D::DeleteDSTU4145PrivateKey), SlotOf(&Q::DeleteDSTU4145PrivateKey)},
        {"HasNativeObjectStore", SlotOf(&D::HasNativeObjectStore), SlotOf(&Q::HasNativeObjectStore)},
        {"ReadNativeObjects", SlotOf(&D::ReadNativeObjects), SlotOf(&Q::ReadNativeObjects)},
        {"UpdateNativeObject", SlotOf(&D::UpdateNativeObject), SlotOf(&Q::UpdateNativeObject)},
        {"ReservedOperationB", SlotOf(&D::ReservedOperationB), SlotOf(&Q::ReservedOperationB)},
        {"ReservedOperationC", SlotOf(&D::ReservedOperationC), SlotOf(&Q::ReservedOperationC)},
        {"ReservedOperationD", SlotOf(&D::ReservedOperationD), SlotOf(&Q::ReservedOperationD)},
        {"DeleteRSAPrivateKey", SlotOf(&D::DeleteRSAPrivateKey), SlotOf(&Q::DeleteRSAPrivateKey)},
        {"DeleteECPrivateKey", SlotOf(&D::DeleteECPrivateKey), SlotOf(&Q::DeleteECPrivateKey)},
        {"GetPrivateKeyNumber", SlotOf(&D::GetPrivateKeyNumber), SlotOf(&Q::GetPrivateKeyNumber)},
        {"StoreObject", SlotOf(&D::StoreObject), SlotOf(&Q::StoreObject)},
        {"GetCertificateNumber", SlotOf(&D::GetCertificateNumber), SlotOf(&Q::GetCertificateNumber)},
        {"DeleteCertificate", SlotOf(&D::DeleteCertificate), SlotOf(&Q::DeleteCertificate)},
        {"HasExtendedHashes", SlotOf(&D::HasExtendedHashes), SlotOf(&Q::HasExtendedHashes)},
        {"HasExtendedCiphers", SlotOf(&D::HasExtendedCiphers), SlotOf(&Q::HasExtendedCiphers)},
        {"SignHash", SlotOf(&D::SignHash), SlotOf(&Q::SignHash)},
        {"DeriveKeyNew", SlotOf(&D::DeriveKeyNew), SlotOf(&Q::DeriveKeyNew)},
        {"WrapKeyNew", SlotOf(&D::WrapKeyNew), SlotOf(&Q::WrapKeyNew)},
        {"UnwrapKeyNew", SlotOf(&D::UnwrapKeyNew), SlotOf(&Q::UnwrapKeyNew)},
    };
    ASSERT_EQ(std::size(slots), 52u);
    for (std::size_t i = 0; i < std::size(slots); ++i) {
        EXPECT_EQ(slots[i].onInterface, static_cast<std::ptrdiff_t>(i)) << slots[i].name;
        EXPECT_EQ(slots[i].onDriver, static_cast<std::ptrdiff_t>(i)) << slots[i].name;
    }
    // The driver's own additions come after the 52, so their slots stay put.
    EXPECT_EQ(SlotOf(&D::DropKeyContexts), 52);
    EXPECT_EQ(SlotOf(&Q::DropKeyContexts), 52);
    EXPECT_EQ(SlotOf(&D::HoldStorage), 53);
    EXPECT_EQ(SlotOf(&Q::HoldStorage), 53);
    EXPECT_EQ(SlotOf(&D::ReleaseStorage), 54);
    EXPECT_EQ(SlotOf(&Q::ReleaseStorage), 54);
}

}  // namespace
