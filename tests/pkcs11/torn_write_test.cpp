// A token object's write, removal or change that stops at any command,
// through the entry functions over the in-process PC/SC double: the writer
// stops sending from one command on (it died), or three commands in a row
// fail on the line. Afterwards a fresh module context finds the token with
// every other object, and the object being written either as before or as
// after.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "PkiServicesStart.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/pkcs11ua.h"
#include "wemu.h"

namespace {

namespace pd = keyemu::pcscdouble;

const std::string kPin = "1234";

CK_UTF8CHAR* U(const std::string& s)
{
    return reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(s.data()));
}

struct StoredObject {
    std::string label;
    bool isPrivate;
    std::vector<CK_BYTE> value;
};

std::vector<CK_BYTE> Value(std::size_t n, int seed)
{
    std::vector<CK_BYTE> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<CK_BYTE>(i * 7 + seed);
    return v;
}

// Objects already on the token: the public ones fill more than the public
// area's first page, so that the token record and the objects' end lie on
// different pages. "secret" is the private area's first record: removing or
// growing it moves the records after it.
const std::vector<StoredObject>& AllEarlier()
{
    static const std::vector<StoredObject> objects = {
        {"first", false, Value(700, 1)},  {"second", false, Value(500, 2)}, {"secret", true, Value(300, 3)},
        {"secret2", true, Value(200, 5)}, {"secret3", true, Value(400, 6)},
    };
    return objects;
}

enum class Stop { Killed, ThreeFailures };

// What the stopped call does: create "added", or destroy or relabel "secret"
// (LastPrivate: destroy it while it is the only private object). Only the
// cross-page removal has "secret3": the private records then reach into the
// area's second page, and end on its first page once "secret" is gone.
enum class Op { Create, Destroy, Relabel, DestroyLastPrivate, DestroyAcrossPages };

struct TornCase {
    const char* name;
    bool isPrivate;
    Stop stop;
    Op op = Op::Create;
};

// gtest prints the case by its name (not its bytes).
void PrintTo(const TornCase& c, std::ostream* os)
{
    *os << c.name;
}

const std::string kRelabelled = "secret, relabelled with a longer label";

class Pkcs11TornWrite : public devtest::DeviceTest, public ::testing::WithParamInterface<TornCase> {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        DllMain(DistributionModule(), DLL_PROCESS_ATTACH, nullptr);
        case_ = GetParam();
        reader_ = AddKey(83, 18, 0x200, kPin);
        ASSERT_NO_FATAL_FAILURE(Start());
        std::string label = "torn";
        label.resize(32, ' ');
        ASSERT_EQ(C_InitToken(0, U(kPin), kPin.size(), U(label)), CKR_OK);
        const CK_SESSION_HANDLE s = LoggedIn();
        for (const StoredObject& o : Earlier()) ASSERT_EQ(Create(s, o), CKR_OK) << o.label;
        ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
        baseline_ = pd::GetKey(reader_)->Serialize();
    }
    void TearDown() override
    {
        C_Finalize(nullptr);
        DeviceTest::TearDown();
    }

    // The key as it was before the write (the module's images are checked
    // against the key's storage mark, which the old state carries too).
    void RestoreKey()
    {
        pd::FailTransmits(reader_, 0);
        ASSERT_NE(pd::Unplug(reader_), nullptr);
        ASSERT_TRUE(pd::Replug(reader_, keyemu::Key::Deserialize(baseline_)));
    }

    // A fresh module context that has found the key.
    static void Start()
    {
        ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
        CK_ULONG count = 0;
        ASSERT_EQ(C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
        ASSERT_EQ(count, 1u);
    }

    static CK_SESSION_HANDLE LoggedIn()
    {
        CK_SESSION_HANDLE s = 0;
        EXPECT_EQ(C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s), CKR_OK);
        EXPECT_EQ(C_Login(s, CKU_USER, U(kPin), kPin.size()), CKR_OK);
        return s;
    }

    static CK_RV Create(CK_SESSION_HANDLE s, const StoredObject& o)
    {
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        CK_BBOOL yes = CK_TRUE;
        CK_BBOOL isPrivate = o.isPrivate ? CK_TRUE : CK_FALSE;
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &dataClass, sizeof(dataClass)},
                            {CKA_TOKEN, &yes, 1},
                            {CKA_PRIVATE, &isPrivate, 1},
                            {CKA_LABEL, const_cast<char*>(o.label.data()), o.label.size()},
                            {CKA_VALUE, const_cast<CK_BYTE*>(o.value.data()), o.value.size()}};
        CK_OBJECT_HANDLE h = 0;
        return C_CreateObject(s, t, 5, &h);
    }

    // How many objects of the label the session finds; each must carry the value.
    static int Count(CK_SESSION_HANDLE s, const StoredObject& o)
    {
        CK_ATTRIBUTE pattern{CKA_LABEL, const_cast<char*>(o.label.data()), o.label.size()};
        EXPECT_EQ(C_FindObjectsInit(s, &pattern, 1), CKR_OK);
        CK_OBJECT_HANDLE found[4];
        CK_ULONG n = 0;
        EXPECT_EQ(C_FindObjects(s, found, 4, &n), CKR_OK);
        EXPECT_EQ(C_FindObjectsFinal(s), CKR_OK);
        for (CK_ULONG i = 0; i < n; ++i) {
            std::vector<CK_BYTE> value(o.value.size() + 1);
            CK_ATTRIBUTE read{CKA_VALUE, value.data(), value.size()};
            EXPECT_EQ(C_GetAttributeValue(s, found[i], &read, 1), CKR_OK) << o.label;
            value.resize(read.ulValueLen);
            EXPECT_EQ(value, o.value) << o.label;
        }
        return static_cast<int>(n);
    }

    // The objects on the token before the stopped call.
    std::vector<StoredObject> Earlier() const
    {
        std::vector<StoredObject> objects;
        for (const StoredObject& o : AllEarlier())
            if ((case_.op != Op::DestroyLastPrivate || o.label != "secret2") &&
                (case_.op == Op::DestroyAcrossPages || o.label != "secret3"))
                objects.push_back(o);
        return objects;
    }

    static CK_OBJECT_HANDLE Find(CK_SESSION_HANDLE s, const std::string& label)
    {
        CK_ATTRIBUTE pattern{CKA_LABEL, const_cast<char*>(label.data()), label.size()};
        CK_OBJECT_HANDLE found = CK_INVALID_HANDLE;
        CK_ULONG n = 0;
        EXPECT_EQ(C_FindObjectsInit(s, &pattern, 1), CKR_OK);
        EXPECT_EQ(C_FindObjects(s, &found, 1, &n), CKR_OK);
        EXPECT_EQ(C_FindObjectsFinal(s), CKR_OK);
        return n == 1 ? found : CK_INVALID_HANDLE;
    }

    // The call that is stopped; `target` is found before the stop.
    CK_RV Run(CK_SESSION_HANDLE s, const StoredObject& added, CK_OBJECT_HANDLE target) const
    {
        switch (case_.op) {
        case Op::Create:
            return Create(s, added);
        case Op::Destroy:
        case Op::DestroyLastPrivate:
        case Op::DestroyAcrossPages:
            return C_DestroyObject(s, target);
        case Op::Relabel: {
            CK_ATTRIBUTE label{CKA_LABEL, const_cast<char*>(kRelabelled.data()), kRelabelled.size()};
            return C_SetAttributeValue(s, target, &label, 1);
        }
        }
        return CKR_GENERAL_ERROR;
    }

    TornCase case_{};
    std::string reader_;
    std::vector<std::uint8_t> baseline_;
};

TEST_P(Pkcs11TornWrite, TheTokenKeepsItsObjectsWhereverTheWriteStops)
{
    const TornCase& c = GetParam();
    const StoredObject added{"added", c.isPrivate, Value(c.isPrivate ? 400 : 200, 9)};
    const StoredObject& secret = AllEarlier()[2];
    const StoredObject relabelled{kRelabelled, true, secret.value};
    int stops = 0;
    for (int n = 0;; ++n) {
        SCOPED_TRACE("stopped after " + std::to_string(n) + " commands");
        ASSERT_NO_FATAL_FAILURE(RestoreKey());
        ASSERT_NO_FATAL_FAILURE(Start());
        CK_SESSION_HANDLE s = LoggedIn();
        const CK_OBJECT_HANDLE target = c.op == Op::Create ? CK_INVALID_HANDLE : Find(s, secret.label);
        ASSERT_TRUE(c.op == Op::Create || target != CK_INVALID_HANDLE);
        pd::FailTransmitsAfter(reader_, n, c.stop == Stop::Killed ? -1 : 3);
        const int before = pd::Calls().transmit;
        const CK_RV rv = Run(s, added, target);
        const bool reached = pd::Calls().transmit - before > n;
        pd::FailTransmits(reader_, 0);
        C_Finalize(nullptr);
        if (!reached) {
            EXPECT_EQ(rv, CKR_OK) << "the call ended before the stop";
            break;
        }
        ++stops;

        // A fresh module: the token and each other object, public ones
        // before the login as well.
        ASSERT_NO_FATAL_FAILURE(Start());
        CK_TOKEN_INFO info{};
        ASSERT_EQ(C_GetTokenInfo(0, &info), CKR_OK);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(info.label), 4), "torn");
        CK_SESSION_HANDLE reader = 0;
        ASSERT_EQ(C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &reader), CKR_OK);
        for (const StoredObject& o : Earlier()) {
            if (!o.isPrivate) {
                EXPECT_EQ(Count(reader, o), 1) << o.label;
            }
        }
        ASSERT_EQ(C_Login(reader, CKU_USER, U(kPin), kPin.size()), CKR_OK);
        for (const StoredObject& o : Earlier()) {
            if (c.op == Op::Create || o.label != secret.label) {
                EXPECT_EQ(Count(reader, o), 1) << o.label;
            }
        }
        // The object of the call as before or as after; reported done, as after.
        const bool done = c.stop == Stop::ThreeFailures && rv == CKR_OK;
        switch (c.op) {
        case Op::Create: {
            const int addedCount = Count(reader, added);
            EXPECT_LE(addedCount, 1);
            if (done) {
                EXPECT_EQ(addedCount, 1) << "reported written";
            }
            break;
        }
        case Op::Destroy:
        case Op::DestroyLastPrivate:
        case Op::DestroyAcrossPages: {
            const int left = Count(reader, secret);
            EXPECT_LE(left, 1);
            if (done) {
                EXPECT_EQ(left, 0) << "reported destroyed";
            }
            break;
        }
        case Op::Relabel: {
            const int after = Count(reader, relabelled);
            EXPECT_EQ(Count(reader, secret) + after, 1);
            if (done) {
                EXPECT_EQ(after, 1) << "reported changed";
            }
            break;
        }
        }
        // The token takes writes again.
        const StoredObject later{"later", c.isPrivate, Value(50, 4)};
        EXPECT_EQ(Create(reader, later), CKR_OK);
        EXPECT_EQ(Count(reader, later), 1);
        ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
        if (HasFailure()) break;
    }
    EXPECT_GT(stops, 5) << "the call took as many commands";
}

INSTANTIATE_TEST_SUITE_P(
    Writes, Pkcs11TornWrite,
    ::testing::Values(TornCase{"PublicKilled", false, Stop::Killed}, TornCase{"PrivateKilled", true, Stop::Killed},
                      TornCase{"PublicThreeFailures", false, Stop::ThreeFailures},
                      TornCase{"PrivateThreeFailures", true, Stop::ThreeFailures},
                      TornCase{"PrivateDestroyKilled", true, Stop::Killed, Op::Destroy},
                      TornCase{"PrivateDestroyThreeFailures", true, Stop::ThreeFailures, Op::Destroy},
                      TornCase{"PrivateRelabelKilled", true, Stop::Killed, Op::Relabel},
                      TornCase{"PrivateRelabelThreeFailures", true, Stop::ThreeFailures, Op::Relabel},
                      TornCase{"LastPrivateDestroyKilled", true, Stop::Killed, Op::DestroyLastPrivate},
                      TornCase{"LastPrivateDestroyThreeFailures", true, Stop::ThreeFailures, Op::DestroyLastPrivate},
                      TornCase{"PrivateDestroyAcrossPagesKilled", true, Stop::Killed, Op::DestroyAcrossPages}),
    [](const ::testing::TestParamInfo<TornCase>& info) { return info.param.name; });

}  // namespace
