// Other libraries reach CSPParameters, ICSPHardware and ICSPHardwareRNG by
// the position of each operation in the virtual table, so every position is
// checked here: under the Itanium C++ ABI a pointer to a virtual member
// function holds 1 + the byte offset of its entry in the table.
#include <gtest/gtest.h>

#include <type_traits>

#include "VirtualSlot.h"
#include "support/CSPParameters.h"
#include "support/ICSPHardware.h"
// The loader and the interface it hands out are used together by the
// key-media library: both headers must live side by side.
#include "support/PKIFormats.h"
#include "support/PKIInterface.h"

using qvktest::SlotOf;

TEST(InterfaceSlots, CSPParametersHasItsTwentyEightOperationsInOrder)
{
    static_assert(!std::has_virtual_destructor_v<CSPParameters>);
    // The object is its table pointer and the provider pointer, nothing else.
    static_assert(sizeof(CSPParameters) == 2 * sizeof(void*));
    using P = CSPParameters;
    EXPECT_EQ(SlotOf(&P::LoadSBoxText), 0);
    EXPECT_EQ(SlotOf(&P::LoadParametersText), 1);
    EXPECT_EQ(SlotOf(&P::LoadParametersTextEx), 2);
    EXPECT_EQ(SlotOf(&P::GetStandardCurve), 3);
    EXPECT_EQ(SlotOf(&P::SetCSP), 4);
    EXPECT_EQ(SlotOf(&P::LoadProtectedSBox), 5);
    EXPECT_EQ(SlotOf(&P::LoadCheckedSBox), 6);
    EXPECT_EQ(SlotOf(&P::LoadCheckedParameters), 7);
    EXPECT_EQ(SlotOf(&P::LoadProtectedParameters), 8);
    EXPECT_EQ(SlotOf(&P::SaveProtectedSBox), 9);
    EXPECT_EQ(SlotOf(&P::SaveCheckedSBox), 10);
    EXPECT_EQ(SlotOf(&P::SaveCheckedParameters), 11);
    EXPECT_EQ(SlotOf(&P::SaveProtectedParameters), 12);
    EXPECT_EQ(SlotOf(&P::GetStandardCurveInfo), 13);
    EXPECT_EQ(SlotOf(&P::FindStandardCurve), 14);
    EXPECT_EQ(SlotOf(&P::GetStandardSBox), 15);
    EXPECT_EQ(SlotOf(&P::LoadSBoxFile), 16);
    EXPECT_EQ(SlotOf(&P::SaveSBoxFile), 17);
    EXPECT_EQ(SlotOf(&P::SaveHashedParameters), 18);
    EXPECT_EQ(SlotOf(&P::LoadProtectedDSTUSBoxes), 19);
    EXPECT_EQ(SlotOf(&P::SaveProtectedDSTUSBoxes), 20);
    EXPECT_EQ(SlotOf(&P::SaveProtectedDSTUSBoxesEx), 21);
    EXPECT_EQ(SlotOf(&P::LoadDSTUSBoxes), 22);
    EXPECT_EQ(SlotOf(&P::LoadDSTUSBoxesEx), 23);
    EXPECT_EQ(SlotOf(&P::IsDefaultDSTUSBoxes), 24);
    EXPECT_EQ(SlotOf(&P::IsDefaultDSTUSBoxesEx), 25);
    EXPECT_EQ(SlotOf(&P::LoadHashedFile), 26);
    EXPECT_EQ(SlotOf(&P::SaveHashedFile), 27);
}

TEST(InterfaceSlots, ICSPHardwareHasItsTwentySixOperationsInOrder)
{
    static_assert(!std::has_virtual_destructor_v<ICSPHardware>);
    static_assert(!std::has_virtual_destructor_v<ICSPHardwareRNG>);
    using H = ICSPHardware;
    EXPECT_EQ(SlotOf(&H::GenerateSignatureKeyPair), 0);
    EXPECT_EQ(SlotOf(&H::GenerateAgreementKeyPair), 1);
    EXPECT_EQ(SlotOf(&H::SignHash), 2);
    EXPECT_EQ(SlotOf(&H::EncryptSessionKey), 3);
    EXPECT_EQ(SlotOf(&H::DecryptSessionKey), 4);
    EXPECT_EQ(SlotOf(&H::CheckSignaturePublicKey), 5);
    EXPECT_EQ(SlotOf(&H::CheckAgreementPublicKey), 6);
    EXPECT_EQ(SlotOf(&H::SetSBox), 7);
    EXPECT_EQ(SlotOf(&H::GetStoredHash), 8);
    EXPECT_EQ(SlotOf(&H::WrapKeyGOST28147), 9);
    EXPECT_EQ(SlotOf(&H::UnwrapKeyGOST28147), 10);
    EXPECT_EQ(SlotOf(&H::Reserved11), 11);
    EXPECT_EQ(SlotOf(&H::Reserved12), 12);
    EXPECT_EQ(SlotOf(&H::Reserved13), 13);
    EXPECT_EQ(SlotOf(&H::Reserved14), 14);
    EXPECT_EQ(SlotOf(&H::Reserved15), 15);
    EXPECT_EQ(SlotOf(&H::Reserved16), 16);
    EXPECT_EQ(SlotOf(&H::Reserved17), 17);
    EXPECT_EQ(SlotOf(&H::Reserved18), 18);
    EXPECT_EQ(SlotOf(&H::Reserved19), 19);
    EXPECT_EQ(SlotOf(&H::QuerySignaturePublicKey), 20);
    EXPECT_EQ(SlotOf(&H::QueryAgreementPublicKey), 21);
    EXPECT_EQ(SlotOf(&H::MakeSignS), 22);
    EXPECT_EQ(SlotOf(&H::SignHashEx), 23);
    EXPECT_EQ(SlotOf(&H::WrapKeyDSTU7624), 24);
    EXPECT_EQ(SlotOf(&H::UnwrapKeyDSTU7624), 25);

    EXPECT_EQ(SlotOf(&ICSPHardwareRNG::GenerateRandom), 0);

    // The provider calls these two with its own argument lists (four, and
    // eleven with the wrapped-length output last); the slots must take them.
    static_assert(
        std::is_same_v<decltype(&H::SetSBox), int (H::*)(const void*, const void*, const void*, const std::uint8_t*)>);
    static_assert(std::is_same_v<decltype(&H::WrapKeyDSTU7624),
                                 int (H::*)(const void*, const void*, const std::uint8_t*, int, const std::uint8_t*,
                                            std::uint32_t, const void*, const std::uint8_t*, const void*, std::uint8_t*,
                                            std::uint32_t*)>);
}
