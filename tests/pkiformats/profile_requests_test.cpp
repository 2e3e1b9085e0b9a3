// The extension values of profile requests over the test double: what each
// builder sets, in which order, what it refuses, and that nothing is left
// behind when a step fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "VirtualSlot.h"
#include "pkiformats/SPKIFormats.h"

using qvktest::SlotOf;

namespace {

class Profile : public ::testing::Test {
protected:
    void SetUp() override { fake::profile::UseProfileObjects(lib); }
    void TearDown() override
    {
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.doubleReleases, 0);
    }
    // The setter calls of the log (class:op(args)) with `prefix`, in order.
    std::vector<std::string> Calls(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (const std::string& line : lib.log)
            if (line.rfind(prefix, 0) == 0 && line.find(":2(") == std::string::npos &&
                line.find(":1(") == std::string::npos)
                out.push_back(line);
        return out;
    }
    void Release(void*& object)
    {
        if (object) static_cast<IPKIObject*>(object)->Release();
        object = nullptr;
    }
    fake::Library lib;
    SPKIFormats f{nullptr, nullptr, &lib};
    void* out = nullptr;
};

using Lines = std::vector<std::string>;

}  // namespace

TEST(ProfileRequestsModel, ObjectModelSlots)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_OBJECT_MODEL_SLOTS_PROFILE_REQUESTS(QVK_SLOT)
#undef QVK_SLOT
}

// Values and list items in argument order, each with its kind; a list ends
// at its first empty item.
TEST_F(Profile, AltNameAddsEachValueAndListItemWithItsKind)
{
    ASSERT_EQ(
        f.MakeAltName("a@example.org", "host.example.org", "10.0.0.1;10.0.0.2", "x;;y", "https://example.org", &out),
        1);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(Calls("4865:"), (Lines{"4865:4(5,a@example.org)", "4865:4(4,host.example.org)", "4865:4(2,10.0.0.1)",
                                     "4865:4(2,10.0.0.2)", "4865:4(1,x)", "4865:4(6,https://example.org)"}));
    Release(out);

    lib.log.clear();
    ASSERT_EQ(f.MakeAltName(nullptr, "", ";ignored", "one;", nullptr, &out), 1);
    EXPECT_EQ(Calls("4865:"), (Lines{"4865:4(1,one)"}));
    Release(out);
}

// List items fill buffers of 256 (kind 2) and 128 (kind 1) characters: an
// item that fits is added whole, a longer one refuses the alternative name.
TEST_F(Profile, AltNameRefusesListItemsLongerThanTheirBuffers)
{
    struct Case {
        std::string kind2, kind1;
        int result;
    } cases[] = {
        {std::string(256, 'a'), "", 1},
        {"", std::string(128, 'b'), 1},
        {"ok;" + std::string(257, 'a'), "", 0},
        {"", std::string(129, 'b') + ";ok", 0},
    };
    for (const Case& c : cases) {
        lib.log.clear();
        EXPECT_EQ(f.MakeAltName(nullptr, nullptr, c.kind2.c_str(), c.kind1.c_str(), nullptr, &out), c.result)
            << c.kind2.size() << "/" << c.kind1.size();
        if (c.result) {
            ASSERT_EQ(Calls("4865:").size(), 1u);
            EXPECT_EQ(Calls("4865:")[0].size(), std::string("4865:4(2,)").size() + 256 - (c.kind2.empty() ? 128 : 0));
        } else {
            EXPECT_EQ(out, nullptr);
        }
        Release(out);
    }
}

TEST_F(Profile, BasicConstraintsSetThePathLengthOnlyForACA)
{
    ASSERT_EQ(f.MakeBasicConstraints(1, 3, &out), 1);
    EXPECT_EQ(Calls("4868:"), (Lines{"4868:5(1)", "4868:6(3)"}));
    Release(out);
    lib.log.clear();
    ASSERT_EQ(f.MakeBasicConstraints(0, 3, &out), 1);
    EXPECT_EQ(Calls("4868:"), (Lines{"4868:5(0)"}));
    Release(out);
}

TEST_F(Profile, CertificatePoliciesPlainQualifiedOrEmpty)
{
    ASSERT_EQ(f.MakeCertificatePolicies("1.2.804.2.1.1.1.2.2", nullptr, &out), 1);
    EXPECT_EQ(Calls("4871:"), (Lines{"4871:4(1.2.804.2.1.1.1.2.2)"}));
    Release(out);

    lib.log.clear();
    ASSERT_EQ(f.MakeCertificatePolicies("1.2.804.2.1.1.1.2.2", "Notice", &out), 1);
    EXPECT_EQ(Calls("4871:"), (Lines{"4871:5(1.2.804.2.1.1.1.2.2,Notice)"}));
    Release(out);

    lib.log.clear();
    ASSERT_EQ(f.MakeCertificatePolicies(nullptr, nullptr, &out), 1);
    EXPECT_NE(out, nullptr);
    EXPECT_TRUE(Calls("4871:").empty());
    Release(out);

    // A policy's explicit text holds at most 200 characters.
    const std::string fits(200, 'q'), over(201, 'q');
    ASSERT_EQ(f.MakeCertificatePolicies("1.2.3", fits.c_str(), &out), 1);
    Release(out);
    EXPECT_EQ(f.MakeCertificatePolicies("1.2.3", over.c_str(), &out), 0);
    EXPECT_EQ(out, nullptr);
}

// Every statement in its order, each through the view the library serves it
// by; the national statement is the object's own.
TEST_F(Profile, QCStatementsInOrder)
{
    ASSERT_EQ(
        f.MakeQCStatements(1, 1, "https://example.org/pds", "0.4.0.1862.1.6.1", 1, 1, 1, "UA", 1, 1000, "UAH", &out),
        1);
    EXPECT_EQ(Calls("4897:"),
              (Lines{"4897:12()", "4897:9(UAH,1000,0)", "4897:15()", "4897:28(en,https://example.org/pds)",
                     "4897:19(0.4.0.1862.1.6.1)", "4897:33(UA)", "4897:23(0.4.0.194121.1.1)", "4897:5()"}));
    Release(out);

    // Without the European flag: no legislation, the PDS location only with
    // the national flag, the legal-person identifier without the natural one.
    lib.log.clear();
    ASSERT_EQ(f.MakeQCStatements(0, 0, "https://example.org/pds", nullptr, 0, 1, 0, "UA", 0, 0, nullptr, &out), 1);
    EXPECT_EQ(Calls("4897:"), (Lines{"4897:23(0.4.0.194121.1.2)"}));
    Release(out);
    lib.log.clear();
    ASSERT_EQ(f.MakeQCStatements(1, 0, "https://example.org/pds", nullptr, 0, 0, 0, "UA", 0, 0, nullptr, &out), 1);
    EXPECT_EQ(Calls("4897:"), (Lines{"4897:28(en,https://example.org/pds)", "4897:5()"}));
    Release(out);
}

TEST_F(Profile, QCTypeMustBeOneOfTheThreeExactly)
{
    struct Case {
        const char* type;
        int result;
    } cases[] = {
        {"0.4.0.1862.1.6.1", 1},   {"0.4.0.1862.1.6.2", 1}, {"0.4.0.1862.1.6.3", 1},  {"0.4.0.1862.1.6.4", 0},
        {"0.4.0.1862.1.6.1.5", 0}, {"0.4.0.1862.1.6.", 0},  {"0.4.0.1862.1.6.1 ", 0}, {"", 0},
    };
    for (const Case& c : cases) {
        lib.log.clear();
        EXPECT_EQ(f.MakeQCStatements(0, 1, nullptr, c.type, 0, 0, 0, nullptr, 0, 0, nullptr, &out), c.result) << c.type;
        if (c.result)
            EXPECT_EQ(Calls("4897:19"), (Lines{"4897:19(" + std::string(c.type) + ")"}));
        else
            EXPECT_EQ(out, nullptr);
        Release(out);
    }
}

TEST_F(Profile, QCStatementsRefuseOverlongTextsAndAFailedNationalStatement)
{
    EXPECT_EQ(f.MakeQCStatements(0, 0, nullptr, nullptr, 0, 0, 0, nullptr, 1, 5, "EURO", &out), 0);
    EXPECT_EQ(f.MakeQCStatements(0, 1, nullptr, nullptr, 0, 0, 0, "UKR", 0, 0, nullptr, &out), 0);
    const std::string pds(1025, 'p');
    EXPECT_EQ(f.MakeQCStatements(1, 0, pds.c_str(), nullptr, 0, 0, 0, nullptr, 0, 0, nullptr, &out), 0);
    lib.Answer(PKI_CLASS_QC_STATEMENTS, 5, {PKI_E_FAILURE});
    EXPECT_EQ(f.MakeQCStatements(1, 0, nullptr, nullptr, 0, 0, 0, nullptr, 0, 0, nullptr, &out), 0);
    EXPECT_EQ(out, nullptr);
}

TEST_F(Profile, SubjectDirectoryAttributesSetOnlyTheValuesGiven)
{
    const char* oids[] = {"1.2.804.2.1.1.1.11.1.4.1.1", "1.2.804.2.1.1.1.11.1.4.3.1", "1.3.6.1.5.5.7.9.1"};
    const char* none[] = {nullptr, "", nullptr};
    out = &lib;  // cleared by the operation
    ASSERT_EQ(f.MakeSubjectDirectoryAttributes(3, oids, none, &out), 1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(f.MakeSubjectDirectoryAttributes(3, oids, nullptr, &out), 1);
    EXPECT_TRUE(Calls("4902:").empty());

    const char* values[] = {"1234567890", nullptr, "19800101000000Z"};
    ASSERT_EQ(f.MakeSubjectDirectoryAttributes(3, oids, values, &out), 1);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(Calls("4902:"),
              (Lines{"4902:49(1.2.804.2.1.1.1.11.1.4.1.1=1234567890;1.3.6.1.5.5.7.9.1=19800101000000Z)"}));
    Release(out);

    // A value longer than its attribute's limit (a 6-character one here) is refused.
    const char* tooLong[] = {nullptr, "AB12345", nullptr};
    EXPECT_EQ(f.MakeSubjectDirectoryAttributes(3, oids, tooLong, &out), 0);
    const char* fits[] = {nullptr, "AB1234", nullptr};
    EXPECT_EQ(f.MakeSubjectDirectoryAttributes(3, oids, fits, &out), 1);
    Release(out);
}

TEST_F(Profile, RequestExtKeyUsagesReplaceTheRequestedOnes)
{
    for (bool has : {true, false}) {
        lib.log.clear();
        auto* request = new fake::profile::Request(lib);
        request->hasExtensions = has;
        const char usages[] = "1.3.6.1.5.5.7.3.2\0001.3.6.1.5.5.7.3.4\0";
        ASSERT_EQ(f.SetRequestExtKeyUsages(request, usages), 1) << has;
        EXPECT_EQ(Calls("4912:5"), (Lines{"4912:5(1.3.6.1.5.5.7.3.2,1.3.6.1.5.5.7.3.4)"}));
        EXPECT_EQ(Calls("4873:97"), (Lines{"4873:97(list)"}));
        // An empty multi-string asks for an empty extended key usage.
        lib.log.clear();
        ASSERT_EQ(f.SetRequestExtKeyUsages(request, ""), 1);
        EXPECT_EQ(Calls("4912:5"), (Lines{"4912:5()"}));
        EXPECT_EQ(f.SetRequestExtKeyUsages(request, nullptr), 0);
        request->Release();
    }
}

TEST(ProfileRequestsSweep, EveryFailureIsReportedAndNothingLeaks)
{
    auto sweep = [](const std::string& name, std::function<int(SPKIFormats&, void**)> make) {
        fake::SweepFailures(
            name,
            [&](SPKIFormats& f, fake::Library& lib) {
                fake::profile::UseProfileObjects(lib);
                void* made = nullptr;
                int rc = make(f, &made);
                if (made) static_cast<IPKIObject*>(made)->Release();
                return rc;
            },
            true);
    };
    sweep("MakeAltName", [](SPKIFormats& f, void** o) { return f.MakeAltName("a", "b", "c;d", "e", "f", o); });
    sweep("MakeBasicConstraints", [](SPKIFormats& f, void** o) { return f.MakeBasicConstraints(1, 2, o); });
    sweep("MakeCertificatePolicies",
          [](SPKIFormats& f, void** o) { return f.MakeCertificatePolicies("1.2.3", "text", o); });
    sweep("MakeQCStatements", [](SPKIFormats& f, void** o) {
        return f.MakeQCStatements(1, 1, "pds", "0.4.0.1862.1.6.2", 0, 1, 1, "UA", 1, 10, "UAH", o);
    });
    sweep("MakeSubjectDirectoryAttributes", [](SPKIFormats& f, void** o) {
        const char* oids[] = {"1.2.804.2.1.1.1.11.1.4.1.1"};
        const char* values[] = {"1234567890"};
        return f.MakeSubjectDirectoryAttributes(1, oids, values, o);
    });
    fake::SweepFailures(
        "SetRequestExtKeyUsages",
        [](SPKIFormats& f, fake::Library& lib) {
            fake::profile::UseProfileObjects(lib);
            auto* request = new fake::profile::Request(lib);
            int rc = f.SetRequestExtKeyUsages(request, "1.3.6.1.5.5.7.3.2\0");
            request->Release();
            return rc;
        },
        true);
}
