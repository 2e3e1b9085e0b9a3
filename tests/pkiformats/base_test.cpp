// Blobs, whole-file reads and writes, times and the Kyiv local time, name
// attribute limits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "FakeFormats.h"
#include "pkiformats/SPKIFormats.h"

namespace {

SYSTEMTIME T(int y, int mo, int d, int h, int mi, int s)
{
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(y);
    t.wMonth = static_cast<WORD>(mo);
    t.wDay = static_cast<WORD>(d);
    t.wHour = static_cast<WORD>(h);
    t.wMinute = static_cast<WORD>(mi);
    t.wSecond = static_cast<WORD>(s);
    return t;
}

std::string Hms(const SYSTEMTIME& t)
{
    char b[64];
    std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return b;
}

class Folder : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/pkif-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override
    {
        unsetenv("WEMU_FAIL");
        WemuResetTestHooks();
        std::string cmd = "rm -rf '" + dir + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    int Entries()
    {
        int n = 0;
        for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
        return n;
    }
    std::string dir;
};

}  // namespace

TEST(FacadeBlobs, MallocAndLibraryBlobsAreZeroFilledAndReleasedWiped)
{
    SPKIFormats plain(nullptr, nullptr, nullptr);
    PKIBlob b{0, nullptr};
    ASSERT_EQ(plain.AllocateBlob(&b, 5), 1);
    EXPECT_EQ(b.length, 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(b.data[i], 0);
    plain.ReleaseBlob(&b);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.length, 0u);
    plain.FreeMemory(nullptr);  // does nothing

    fake::Library lib;
    lib.requireWipe = true;
    SPKIFormats facade(nullptr, nullptr, &lib);
    ASSERT_EQ(facade.AllocateBlob(&b, 7), 1);  // the fake fills with 0xA5
    for (int i = 0; i < 7; ++i) EXPECT_EQ(b.data[i], 0);
    b.data[3] = 9;
    facade.ReleaseBlob(&b);
    EXPECT_EQ(lib.unwipedFrees, 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    lib.Answer(0, 6, {PKI_E_OUT_OF_MEMORY});
    EXPECT_EQ(facade.AllocateBlob(&b, 7), 0);
    EXPECT_EQ(facade.AllocateMemory(4), nullptr);
    lib.Answer(0, 6, {});
    void* m = facade.AllocateMemory(4);
    ASSERT_NE(m, nullptr);
    facade.FreeMemory(m);
    EXPECT_EQ(lib.LiveBlobs(), 0u);

    PKIBlob x{3, (std::uint8_t*)"abc"}, y{3, (std::uint8_t*)"abc"}, z{3, (std::uint8_t*)"abd"}, e{0, nullptr};
    EXPECT_EQ(facade.BlobsEqual(&x, &y), 1);
    EXPECT_EQ(facade.BlobsEqual(&x, &z), 0);
    EXPECT_EQ(facade.BlobsEqual(&x, &e), 0);
    EXPECT_EQ(facade.BlobsEqual(&e, &e), 1);
}

TEST_F(Folder, ReadFileToBlobReadsWholeFilesAndLeavesTheBlobOnFailure)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    std::string path = dir + "/a.bin";
    std::ofstream(path, std::ios::binary) << std::string("\x01\x00\x02", 3);
    PKIBlob b{0, nullptr};
    ASSERT_EQ(f.ReadFileToBlob(path.c_str(), &b), 1);
    ASSERT_EQ(b.length, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data), 3), std::string("\x01\x00\x02", 3));
    f.ReleaseBlob(&b);

    PKIBlob untouched{77, reinterpret_cast<std::uint8_t*>(&untouched)};
    EXPECT_EQ(f.ReadFileToBlob((dir + "/missing").c_str(), &untouched), 0);
    EXPECT_EQ(untouched.length, 77u);

    setenv("WEMU_FAIL", "ReadFile", 1);
    WemuResetTestHooks();
    EXPECT_EQ(f.ReadFileToBlob(path.c_str(), &b), 0);
    EXPECT_EQ(b.data, nullptr);
}

TEST_F(Folder, ReadFileToBlobRefusesFilesOfFourGibibytesOrMore)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    std::string path = dir + "/big";
    int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    // Sparse: 4 GiB + 3 bytes, whose low word alone would read as 3.
    ASSERT_EQ(ftruncate(fd, (1ll << 32) + 3), 0);
    close(fd);
    PKIBlob b{0, nullptr};
    EXPECT_EQ(f.ReadFileToBlob(path.c_str(), &b), 0);
    EXPECT_EQ(b.data, nullptr);
}

TEST_F(Folder, WriteBlobToFileReplacesOnlyAfterAFullWrite)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    std::string path = dir + "/out.bin";
    PKIBlob b{4, (std::uint8_t*)"new!"};
    ASSERT_EQ(f.WriteBlobToFile(path.c_str(), &b), 1);
    EXPECT_EQ(Read(path), "new!");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // An existing file keeps its content when the write fails, and its mode
    // when it succeeds; no temporary file stays behind either way.
    std::ofstream(path, std::ios::binary) << "precious";
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    for (const char* failing : {"WriteFile", "CreateFile", "MoveFileEx"}) {
        setenv("WEMU_FAIL", failing, 1);
        WemuResetTestHooks();
        EXPECT_EQ(f.WriteBlobToFile(path.c_str(), &b), 0) << failing;
        unsetenv("WEMU_FAIL");
        WemuResetTestHooks();
        EXPECT_EQ(Read(path), "precious") << failing;
        EXPECT_EQ(Entries(), 1) << failing;
    }
    ASSERT_EQ(f.WriteBlobToFile(path.c_str(), &b), 1);
    EXPECT_EQ(Read(path), "new!");
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(Entries(), 1);

    EXPECT_EQ(f.WriteBlobToFile((dir + "/no/such/folder").c_str(), &b), 0);
    EXPECT_EQ(f.OpenFileHandle(path.c_str(), GENERIC_READ, 3, 0, 0x80, nullptr), 1);
    EXPECT_EQ(f.OpenFileHandle((dir + "/none").c_str(), GENERIC_READ, 3, 0, 0x80, nullptr), 0);
    WIN32_FIND_DATA fd;
    HANDLE h = nullptr;
    ASSERT_EQ(f.FindFirstFileEntry((dir + "/*.bin").c_str(), &h, &fd), 1);
    EXPECT_STREQ(fd.cFileName, "out.bin");
    EXPECT_EQ(f.FindNextFileEntry(h, &fd), 0);
    FindClose(h);
}

TEST(FacadeTimes, KyivTimeFollowsTheEuRule)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    struct Case {
        SYSTEMTIME in;
        bool toLocal;
        const char* out;
    } cases[] = {
        {T(2024, 3, 31, 1, 0, 0), true, "2024-03-31 04:00:00"},
        {T(2024, 3, 31, 0, 59, 59), true, "2024-03-31 02:59:59"},
        {T(2024, 10, 27, 0, 59, 59), true, "2024-10-27 03:59:59"},
        {T(2024, 10, 27, 1, 0, 0), true, "2024-10-27 03:00:00"},
        {T(2024, 1, 15, 12, 0, 0), true, "2024-01-15 14:00:00"},
        {T(2023, 12, 31, 23, 0, 0), true, "2024-01-01 01:00:00"},
        {T(2024, 10, 27, 3, 30, 0), false, "2024-10-27 00:30:00"},
        {T(2024, 10, 27, 4, 0, 0), false, "2024-10-27 02:00:00"},
        {T(2024, 3, 31, 3, 30, 0), false, "2024-03-31 01:30:00"},  // skipped hour: winter offset
        {T(2025, 3, 30, 4, 0, 0), false, "2025-03-30 01:00:00"},
        {T(2025, 7, 1, 0, 0, 0), false, "2025-06-30 21:00:00"},
    };
    for (const Case& c : cases) {
        SYSTEMTIME out{};
        int rc = c.toLocal ? f.UniversalToLocalTime(&c.in, &out) : f.LocalToUniversalTime(&c.in, &out);
        EXPECT_EQ(rc, 1);
        EXPECT_EQ(Hms(out), c.out) << Hms(c.in);
    }
    SYSTEMTIME out{}, bad = T(2024, 13, 1, 0, 0, 0), good = T(2024, 1, 1, 0, 0, 0);
    EXPECT_EQ(f.UniversalToLocalTime(&bad, &out), 0);
    EXPECT_EQ(f.CompareSystemTimes(&bad, &good), -1);
    EXPECT_EQ(f.CompareSystemTimes(&good, &bad), -1);
    EXPECT_EQ(f.CompareSystemTimes(&good, &good), 0);
    SYSTEMTIME later = T(2024, 1, 1, 0, 0, 1);
    EXPECT_EQ(f.CompareSystemTimes(&later, &good), 1);
    f.SetTimeConversionDisabled(1);
    EXPECT_EQ(f.UniversalToLocalTime(&bad, &out), 1);
    EXPECT_EQ(out.wMonth, 13);
    EXPECT_EQ(f.LocalToUniversalTime(&good, &out), 1);
    EXPECT_EQ(Hms(out), Hms(good));
}

TEST(FacadeNames, AttributeLimitsAndBuffers)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    std::uint32_t n = 0;
    EXPECT_EQ(f.GetNameAttributeMaxLength("2.5.4.6", &n), 1);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(f.GetNameAttributeMaxLength("1.2.804.2.1.1.1.11.1.4.11.1", &n), 1);
    EXPECT_EQ(n, 14u);
    EXPECT_EQ(f.GetNameAttributeMaxLength("2.5.4.9", &n), 0);
    EXPECT_EQ(f.GetNameAttributeMaxLength(nullptr, &n), 0);
    EXPECT_EQ(f.GetNameAttributeMaxLength("2.5.4.3", nullptr), 1);

    const char* oids[] = {"2.5.4.3", "2.5.4.9"};
    void** array = f.AllocateNameAttributeBuffers(2, oids, 2);
    ASSERT_NE(array, nullptr);
    ASSERT_NE(array[0], nullptr);
    EXPECT_EQ(array[1], nullptr);
    for (int i = 0; i < 130; ++i) EXPECT_EQ(static_cast<std::uint8_t*>(array[0])[i], 0);
    f.FreeMemoryArray(2, array);
    f.FreeMemoryArray(2, nullptr);
    EXPECT_EQ(f.AllocateNameAttributeBuffers(0, oids, 2), nullptr);
    EXPECT_EQ(f.AllocateNameAttributeBuffers(2, oids, 0), nullptr);

    // count x pointer size above 4 GiB is refused rather than wrapped to a
    // small array that the loop would then overrun.
    fake::Library lib;
    SPKIFormats g(nullptr, nullptr, &lib);
    EXPECT_EQ(g.AllocateNameAttributeBuffers(0x40000000u, oids, 1), nullptr);
    EXPECT_EQ(g.AllocateNameAttributeBuffers(0x20000001u, oids, 1), nullptr);
    EXPECT_EQ(lib.Calls(), 0);
    // A failing second buffer frees the first and the array.
    lib.Answer(0, 6, {0, 0, PKI_E_OUT_OF_MEMORY});
    const char* three[] = {"2.5.4.3", "2.5.4.6", "2.5.4.7"};
    EXPECT_EQ(g.AllocateNameAttributeBuffers(3, three, 1), nullptr);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
}

namespace {
CSP* const kModuleCSP = reinterpret_cast<CSP*>(0x1000);
CSP* ModuleCSPForTest()
{
    return kModuleCSP;
}
}  // namespace

TEST(FacadeProviders, MissingProvidersAndLibraryAnswerZero)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    EXPECT_EQ(f.GetFormatsInterface(), nullptr);
    EXPECT_EQ(f.GetCSP(), nullptr);
    EXPECT_EQ(f.ModuleCSP(), nullptr);
    f.SetModuleCSPAccessor(ModuleCSPForTest);
    EXPECT_EQ(f.ModuleCSP(), kModuleCSP);

    fake::Library lib;
    auto* cert = new fake::Certificate(lib);
    std::uint32_t kind = 0, level = 0, format = 0;
    EXPECT_EQ(f.GetCertificatePolicyLevel(cert, &kind, &level), 0);
    std::string marked = std::string("Enis", 4) + std::string(20, '\0');
    PKIBlob m{static_cast<std::uint32_t>(marked.size()), (std::uint8_t*)marked.data()};
    EXPECT_EQ(f.ReadMarkedBlob(&m, "pw", &format, nullptr), 0);
    char out[PKIF_NAME_TEXT_BYTES] = "old";
    f.ParseNameText("CN=x", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, out, nullptr, nullptr, nullptr);
    EXPECT_STREQ(out, "");
    f.ConvertNameText("CN=x", nullptr);
    EXPECT_EQ(lib.Calls(), 0);
    cert->Release();
}

// The test double itself: one table per offered interface, rules keyed by
// object and view, releases inside the k-th-call failure, every created class.
TEST(FakeFormatsDouble, ViewsRulesReleasesAndClasses)
{
    fake::Library lib;
    void* cert = nullptr;
    ASSERT_EQ(lib.CreateObject(PKI_CLASS_CERTIFICATE, PKI_IID_CERTIFICATE, &cert), 0);
    auto* c = static_cast<IPKIObject*>(static_cast<IPKICertificate*>(cert));
    void* ec = nullptr;
    void* names = nullptr;
    ASSERT_EQ(c->QueryInterface(PKI_IID_CERTIFICATE_EX, &ec), 0);
    ASSERT_EQ(c->QueryInterface(4244, &names), 0);
    EXPECT_NE(ec, names);
    EXPECT_NE(ec, cert);
    // Slot 109 of each view answers its own rule.
    lib.Script({PKI_CLASS_CERTIFICATE, PKI_IID_CERTIFICATE_EX, 109, nullptr}, {{5}, false, {}, nullptr});
    lib.Script({PKI_CLASS_CERTIFICATE, 4244, 109, nullptr}, {{6}, false, {}, nullptr});
    EXPECT_EQ(static_cast<fake::Slots*>(static_cast<IPKIObject*>(ec))->Op109(), 5);
    EXPECT_EQ(static_cast<fake::Slots*>(static_cast<IPKIObject*>(names))->Op109(), 6);
    EXPECT_EQ(static_cast<fake::Slots*>(static_cast<IPKIObject*>(names))->Op108(), PKI_E_NOT_IMPLEMENTED);
    static_cast<IPKIObject*>(ec)->Release();
    static_cast<IPKIObject*>(names)->Release();

    // A rule for one object leaves another of the same class alone; scripted
    // words come out through the operation that honours them.
    void* r1 = nullptr;
    void* r2 = nullptr;
    ASSERT_EQ(lib.CreateObject(PKI_CLASS_REQUEST, PKI_IID_REQUEST, &r1), 0);
    ASSERT_EQ(lib.CreateObject(PKI_CLASS_REQUEST, PKI_IID_REQUEST, &r2), 0);
    auto* q1 = static_cast<IPKIRequest*>(r1);
    auto* q2 = static_cast<IPKIRequest*>(r2);
    lib.Script({PKI_CLASS_REQUEST, PKI_IID_REQUEST, 13, q1}, {{}, false, {4}, nullptr});
    std::uint32_t k1 = 0, k2 = 0;
    EXPECT_EQ(q1->GetKeyKind(&k1), 0);
    EXPECT_EQ(q2->GetKeyKind(&k2), 0);
    EXPECT_EQ(k1, 4u);
    EXPECT_EQ(k2, 1u);

    // The k-th call may be a release: it releases, then answers the failure.
    lib.FailCall(1);
    EXPECT_EQ(q2->Release(), PKI_E_FAILURE);
    PKIBlob blob{0, nullptr};
    ASSERT_EQ(lib.AllocateBlob(&blob, 4), 0);
    lib.FailCall(1);
    EXPECT_EQ(lib.FreeBlob(&blob), PKI_E_FAILURE);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    q1->Release();
    c->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);

    // Every class the facade creates is made, with its interface's table.
    for (auto [cls, iid] : fake::CreatedClasses()) {
        void* object = nullptr;
        ASSERT_EQ(lib.CreateObject(cls, iid, &object), 0) << cls << "/" << iid;
        static_cast<IPKIObject*>(object)->Release();
    }
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.doubleReleases, 0);
    void* unknown = nullptr;
    EXPECT_EQ(lib.CreateObject(4999, 1, &unknown), PKI_E_UNKNOWN_CLASS);
}
