// The token-manager pool against keys in the in-process PC/SC double: each
// borrower of a slot prefers a fresh entry, entries stay bound to their slot,
// and a full pool answers CKR_SESSION_COUNT.
#include <gtest/gtest.h>

#include "DeviceTestSupport.h"
#include "pkcs11/PKCS11TokenManager.h"
#include "pkcs11driver/PKCS11Driver.h"

namespace {

class Pkcs11Pool : public devtest::DeviceTest {};

TEST_F(Pkcs11Pool, BorrowersOfASlotGetTheirOwnEntriesAndFreedOnesComeBack)
{
    AddKey(501);
    AddKey(502);
    ASSERT_EQ(EnumerateKeySerials(1), CKR_OK);
    {
        PKCS11TokenManagerPool pool(3);
        PKCS11TokenManager *first = nullptr, *second = nullptr, *third = nullptr, *other = nullptr;
        ASSERT_EQ(pool.Acquire(0, &first), CKR_OK);
        ASSERT_EQ(pool.Acquire(0, &second), CKR_OK);
        EXPECT_NE(first, second) << "a second borrower takes a fresh entry";
        PKCS11TokenConnector* connector = nullptr;
        ASSERT_EQ(first->GetConnector(&connector), CKR_OK);
        EXPECT_TRUE(connector->IsOpen()) << "the pool opened the key through the entry's own device object";
        ASSERT_EQ(pool.Acquire(1, &other), CKR_OK);
        EXPECT_NE(other, first);
        EXPECT_NE(other, second);
        PKCS11TokenManager* none = nullptr;
        EXPECT_EQ(pool.Acquire(2, &none), CKR_SESSION_COUNT) << "every entry is bound to another slot";

        EXPECT_EQ(pool.Release(first), CKR_OK);
        EXPECT_EQ(pool.Release(second), CKR_OK);
        ASSERT_EQ(pool.Acquire(0, &third), CKR_OK);
        EXPECT_EQ(third, first) << "the first of the idle entries of the slot";
        EXPECT_EQ(pool.Release(third), CKR_OK);
        EXPECT_EQ(pool.Release(third), CKR_OK) << "never below zero";
        EXPECT_EQ(pool.Release(nullptr), CKR_OK);
        EXPECT_EQ(pool.Acquire(0, nullptr), CKR_ARGUMENTS_BAD);
    }
    // The pool closed every key it had open: the keys open again at once.
    PKCS11TokenManagerPool again(1);
    PKCS11TokenManager* manager = nullptr;
    EXPECT_EQ(again.Acquire(1, &manager), CKR_OK);
}

// Past the last free entry a session is refused: two sessions on one entry
// would share one login. Short looks at the token may still share.
TEST_F(Pkcs11Pool, SessionsNeverShareAnEntry)
{
    using Borrower = PKCS11TokenManagerPool::Borrower;
    // Slots stay given to the keys of earlier tests: this key gets the next.
    const std::uint32_t slot = KeySerialCount();
    AddKey(511);
    ASSERT_EQ(EnumerateKeySerials(slot), CKR_OK);
    PKCS11TokenManagerPool pool(2);
    PKCS11TokenManager *first = nullptr, *second = nullptr, *look = nullptr, *none = nullptr;
    ASSERT_EQ(pool.Acquire(slot, &first, Borrower::Session), CKR_OK);
    ASSERT_EQ(pool.Acquire(slot, &second, Borrower::Session), CKR_OK);
    EXPECT_NE(first, second);
    EXPECT_EQ(pool.Acquire(slot, &none, Borrower::Session), CKR_SESSION_COUNT);
    EXPECT_EQ(none, nullptr);
    ASSERT_EQ(pool.Acquire(slot, &look), CKR_OK) << "a look shares an entry lent to a session";
    EXPECT_TRUE(look == first || look == second);
    EXPECT_EQ(pool.Release(look), CKR_OK);
    EXPECT_EQ(pool.Acquire(slot, &none, Borrower::Session), CKR_SESSION_COUNT)
        << "the look gave back no session's hold";

    EXPECT_EQ(pool.Release(second, Borrower::Session), CKR_OK);
    PKCS11TokenManager* third = nullptr;
    ASSERT_EQ(pool.Acquire(slot, &third, Borrower::Session), CKR_OK);
    EXPECT_EQ(third, second) << "the entry its session gave back";
    EXPECT_EQ(pool.Acquire(slot, &none, Borrower::Session), CKR_SESSION_COUNT);
}

TEST_F(Pkcs11Pool, AnAbsentKeyIsNotLentOut)
{
    const std::string reader = AddKey(601);
    ASSERT_EQ(EnumerateKeySerials(0), CKR_OK);
    ASSERT_TRUE(keyemu::pcscdouble::RemoveReader(reader));
    PKCS11TokenManagerPool pool(2);
    PKCS11TokenManager* manager = nullptr;
    EXPECT_EQ(pool.Acquire(0, &manager), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(pool.Acquire(7, &manager), CKR_SLOT_ID_INVALID) << "no key has that slot";
    PKCS11TokenManagerPool empty(0);
    EXPECT_EQ(empty.Acquire(0, &manager), CKR_HOST_MEMORY);
}

}  // namespace
