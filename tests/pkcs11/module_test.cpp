// The built module pkcs11.qvk7q.so loaded with dlopen, as applications load
// it: the function list, the fixed answers, initialisation and finalisation
// with and without the outside libraries beside it, both ways the PKI
// formats library may be handed the CSP, and the application's mutex
// callbacks.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "pkcs11/pkcs11ua.h"

#ifndef QVK_PKCS11_MODULE
#error "QVK_PKCS11_MODULE must name the built module"
#endif

namespace {

namespace fs = std::filesystem;

const char* const kFunctionNames[68] = {"C_Initialize",
                                        "C_Finalize",
                                        "C_GetInfo",
                                        "C_GetFunctionList",
                                        "C_GetSlotList",
                                        "C_GetSlotInfo",
                                        "C_GetTokenInfo",
                                        "C_GetMechanismList",
                                        "C_GetMechanismInfo",
                                        "C_InitToken",
                                        "C_InitPIN",
                                        "C_SetPIN",
                                        "C_OpenSession",
                                        "C_CloseSession",
                                        "C_CloseAllSessions",
                                        "C_GetSessionInfo",
                                        "C_GetOperationState",
                                        "C_SetOperationState",
                                        "C_Login",
                                        "C_Logout",
                                        "C_CreateObject",
                                        "C_CopyObject",
                                        "C_DestroyObject",
                                        "C_GetObjectSize",
                                        "C_GetAttributeValue",
                                        "C_SetAttributeValue",
                                        "C_FindObjectsInit",
                                        "C_FindObjects",
                                        "C_FindObjectsFinal",
                                        "C_EncryptInit",
                                        "C_Encrypt",
                                        "C_EncryptUpdate",
                                        "C_EncryptFinal",
                                        "C_DecryptInit",
                                        "C_Decrypt",
                                        "C_DecryptUpdate",
                                        "C_DecryptFinal",
                                        "C_DigestInit",
                                        "C_Digest",
                                        "C_DigestUpdate",
                                        "C_DigestKey",
                                        "C_DigestFinal",
                                        "C_SignInit",
                                        "C_Sign",
                                        "C_SignUpdate",
                                        "C_SignFinal",
                                        "C_SignRecoverInit",
                                        "C_SignRecover",
                                        "C_VerifyInit",
                                        "C_Verify",
                                        "C_VerifyUpdate",
                                        "C_VerifyFinal",
                                        "C_VerifyRecoverInit",
                                        "C_VerifyRecover",
                                        "C_DigestEncryptUpdate",
                                        "C_DecryptDigestUpdate",
                                        "C_SignEncryptUpdate",
                                        "C_DecryptVerifyUpdate",
                                        "C_GenerateKey",
                                        "C_GenerateKeyPair",
                                        "C_WrapKey",
                                        "C_UnwrapKey",
                                        "C_DeriveKey",
                                        "C_SeedRandom",
                                        "C_GenerateRandom",
                                        "C_GetFunctionStatus",
                                        "C_CancelFunction",
                                        "C_WaitForSlotEvent"};

std::string CurrentDirectory()
{
    return fs::current_path().string();
}

bool IsLoaded(const std::string& path)
{
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h == nullptr) return false;
    dlclose(h);
    return true;
}

// The module, loaded from a path for the duration of a test.
class Module {
public:
    explicit Module(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
    {
        if (handle_ == nullptr) ADD_FAILURE() << dlerror();
        auto get = reinterpret_cast<CK_C_GetFunctionList>(Symbol("C_GetFunctionList"));
        if (get != nullptr) get(&list_);
    }
    ~Module()
    {
        if (list_ != nullptr) list_->C_Finalize(nullptr);
        if (handle_ != nullptr) dlclose(handle_);
    }
    void* Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }
    CK_FUNCTION_LIST* operator->() const { return list_; }
    CK_FUNCTION_LIST* list() const { return list_; }

private:
    void* handle_;
    CK_FUNCTION_LIST* list_ = nullptr;
};

class Pkcs11Module : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"PKFMT_VERSION", "PKFMT_OPTION_A", "PKFMT_INITIALIZE_RESULT"}) unsetenv(name);
        startDir_ = CurrentDirectory();
    }
    void TearDown() override { EXPECT_EQ(CurrentDirectory(), startDir_) << "the current folder must be restored"; }

    // A folder holding a copy of the module and the named files from the
    // distribution folder.
    std::string PrivateFolder(const std::vector<std::string>& companions)
    {
        const fs::path dir = fs::temp_directory_path() / ("qvk-p11-" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        const fs::path dist = fs::path(QVK_PKCS11_MODULE).parent_path();
        fs::copy_file(QVK_PKCS11_MODULE, dir / "pkcs11.qvk7q.so");
        // The module links libwemu.so and finds it beside itself.
        fs::copy_file(dist / "libwemu.so", dir / "libwemu.so");
        for (const std::string& name : companions) fs::copy_file(dist / name, dir / name);
        folders_.push_back(dir);
        return dir.string();
    }
    ~Pkcs11Module() override
    {
        for (const fs::path& dir : folders_) fs::remove_all(dir);
    }

    std::string startDir_;
    std::vector<fs::path> folders_;
};

TEST_F(Pkcs11Module, TheFunctionListHasTheSixtyEightExportsInTheStandardOrder)
{
    Module module(QVK_PKCS11_MODULE);
    auto get = reinterpret_cast<CK_C_GetFunctionList>(module.Symbol("C_GetFunctionList"));
    ASSERT_NE(get, nullptr);
    EXPECT_EQ(get(nullptr), CKR_ARGUMENTS_BAD);
    CK_FUNCTION_LIST* list = nullptr;
    ASSERT_EQ(get(&list), CKR_OK) << "usable before C_Initialize";
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->version.major, 2);
    EXPECT_EQ(list->version.minor, 20);
    static_assert(sizeof(CK_FUNCTION_LIST) == sizeof(CK_VERSION) + 6 + 68 * sizeof(void*) ||
                  sizeof(CK_FUNCTION_LIST) == 69 * sizeof(void*));
    void* const* entries = reinterpret_cast<void* const*>(&list->C_Initialize);
    for (int i = 0; i < 68; ++i) {
        void* exported = module.Symbol(kFunctionNames[i]);
        EXPECT_NE(exported, nullptr) << kFunctionNames[i] << " is not exported";
        EXPECT_EQ(entries[i], exported) << "entry " << i << " is not " << kFunctionNames[i];
    }
    EXPECT_NE(module.Symbol("DllMain"), nullptr);
    EXPECT_EQ(module.Symbol("StartPKIServices"), nullptr) << "nothing but the exports leaves the module";
    EXPECT_EQ(module.Symbol("EnumerateKeySerials"), nullptr);
}

TEST_F(Pkcs11Module, FixedAnswersComeWithoutInitialisation)
{
    Module module(QVK_PKCS11_MODULE);
    CK_FUNCTION_LIST* f = module.list();
    ASSERT_NE(f, nullptr);
    CK_BYTE buffer[16];
    CK_ULONG length = sizeof(buffer);
    CK_MECHANISM mechanism{CKM_DSTU4145, nullptr, 0};
    struct Case {
        const char* name;
        CK_RV got;
        CK_RV expected;
    } cases[] = {
        {"C_EncryptInit", f->C_EncryptInit(1, &mechanism, 1), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_Encrypt", f->C_Encrypt(1, buffer, 1, buffer, &length), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_EncryptUpdate", f->C_EncryptUpdate(1, buffer, 1, buffer, &length), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_EncryptFinal", f->C_EncryptFinal(1, buffer, &length), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_DecryptInit", f->C_DecryptInit(1, &mechanism, 1), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_Decrypt", f->C_Decrypt(1, buffer, 1, buffer, &length), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_DecryptUpdate", f->C_DecryptUpdate(1, buffer, 1, buffer, &length), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_DecryptFinal", f->C_DecryptFinal(1, buffer, &length), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_DigestKey", f->C_DigestKey(1, 1), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_DigestEncryptUpdate", f->C_DigestEncryptUpdate(1, buffer, 1, buffer, &length), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_DecryptDigestUpdate", f->C_DecryptDigestUpdate(1, buffer, 1, buffer, &length), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_SignEncryptUpdate", f->C_SignEncryptUpdate(1, buffer, 1, buffer, &length), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_DecryptVerifyUpdate", f->C_DecryptVerifyUpdate(1, buffer, 1, buffer, &length), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_GenerateKey", f->C_GenerateKey(1, &mechanism, nullptr, 0, nullptr), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_CopyObject", f->C_CopyObject(1, 1, nullptr, 0, nullptr), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_GetOperationState", f->C_GetOperationState(1, buffer, &length), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_SetOperationState", f->C_SetOperationState(1, buffer, 1, 0, 0), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_SignRecoverInit", f->C_SignRecoverInit(1, &mechanism, 1), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_SignRecover", f->C_SignRecover(1, buffer, 1, buffer, &length), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_VerifyRecoverInit", f->C_VerifyRecoverInit(1, &mechanism, 1), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_VerifyRecover", f->C_VerifyRecover(1, buffer, 1, buffer, &length), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_WaitForSlotEvent", f->C_WaitForSlotEvent(0, nullptr, nullptr), CKR_FUNCTION_NOT_SUPPORTED},
        {"C_GetFunctionStatus", f->C_GetFunctionStatus(1), CKR_FUNCTION_NOT_PARALLEL},
        {"C_CancelFunction", f->C_CancelFunction(1), CKR_FUNCTION_NOT_PARALLEL},
        {"C_SeedRandom", f->C_SeedRandom(1, buffer, 1), CKR_RANDOM_SEED_NOT_SUPPORTED},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.name;
}

TEST_F(Pkcs11Module, LiveFunctionsRefuseWorkBeforeInitialisation)
{
    Module module(QVK_PKCS11_MODULE);
    CK_FUNCTION_LIST* f = module.list();
    ASSERT_NE(f, nullptr);
    CK_INFO info;
    CK_ULONG count = 0;
    CK_BYTE random[4];
    EXPECT_EQ(f->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(f->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(f->C_GenerateRandom(1, random, sizeof(random)), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(f->C_CloseSession(1), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(f->C_Finalize(nullptr), CKR_OK) << "finalising an uninitialised library does no harm";
}

TEST_F(Pkcs11Module, MixedMutexCallbacksAreRefused)
{
    Module module(QVK_PKCS11_MODULE);
    ASSERT_NE(module.list(), nullptr);
    auto create = [](CK_VOID_PTR_PTR) -> CK_RV { return CKR_OK; };
    auto other = [](CK_VOID_PTR) -> CK_RV { return CKR_OK; };
    CK_C_INITIALIZE_ARGS createOnly{};
    createOnly.CreateMutex = create;
    CK_C_INITIALIZE_ARGS withoutCreate{};
    withoutCreate.DestroyMutex = other;
    withoutCreate.LockMutex = other;
    withoutCreate.UnlockMutex = other;
    CK_C_INITIALIZE_ARGS withoutLock{};
    withoutLock.CreateMutex = create;
    withoutLock.DestroyMutex = other;
    withoutLock.UnlockMutex = other;
    withoutLock.flags = CKF_OS_LOCKING_OK;
    for (CK_C_INITIALIZE_ARGS* args : {&createOnly, &withoutCreate, &withoutLock}) {
        EXPECT_EQ(module->C_Initialize(args), CKR_FUNCTION_FAILED);
        CK_INFO info;
        EXPECT_EQ(module->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
    }
}

TEST_F(Pkcs11Module, WithoutTheOutsideLibrariesInitialisationFailsCleanly)
{
    const std::string alone = PrivateFolder({});
    Module module(alone + "/pkcs11.qvk7q.so");
    ASSERT_NE(module.list(), nullptr);
    EXPECT_EQ(module->C_Initialize(nullptr), CKR_FUNCTION_FAILED);
    CK_INFO info;
    EXPECT_EQ(module->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(module->C_Initialize(nullptr), CKR_FUNCTION_FAILED) << "and again, with nothing left over";
    EXPECT_EQ(module->C_Finalize(nullptr), CKR_OK);
}

TEST_F(Pkcs11Module, AFailedStartReleasesTheCryptoLibrariesAndThePkiLibrary)
{
    // The crypto libraries but no PKI formats library: the CSP made on the
    // way must go again.
    const std::string noPki = PrivateFolder({"cgbase.so", "cgext.so"});
    {
        Module module(noPki + "/pkcs11.qvk7q.so");
        ASSERT_NE(module.list(), nullptr);
        EXPECT_EQ(module->C_Initialize(nullptr), CKR_FUNCTION_FAILED);
        EXPECT_FALSE(IsLoaded(fs::canonical(noPki + "/cgbase.so").string())) << "the CSP stayed bound";
        EXPECT_FALSE(IsLoaded(fs::canonical(noPki + "/cgext.so").string()));
    }
    // A PKI formats library whose initialisation fails: its reference is
    // dropped, so it is unloaded, and a later start succeeds.
    const std::string dist = fs::path(QVK_PKCS11_MODULE).parent_path().string();
    Module module(QVK_PKCS11_MODULE);
    ASSERT_NE(module.list(), nullptr);
    setenv("PKFMT_INITIALIZE_RESULT", "3", 1);
    EXPECT_EQ(module->C_Initialize(nullptr), CKR_FUNCTION_FAILED);
    EXPECT_FALSE(IsLoaded(dist + "/pkfmt.so")) << "the library reference stayed counted";
    EXPECT_FALSE(IsLoaded(dist + "/cgbase.so"));
    unsetenv("PKFMT_INITIALIZE_RESULT");
    EXPECT_EQ(module->C_Initialize(nullptr), CKR_OK);
    EXPECT_TRUE(IsLoaded(dist + "/pkfmt.so"));
}

TEST_F(Pkcs11Module, InitialiseReportFinaliseAndStartAgain)
{
    const std::string dist = fs::path(QVK_PKCS11_MODULE).parent_path().string();
    Module module(QVK_PKCS11_MODULE);
    ASSERT_NE(module.list(), nullptr);
    ASSERT_EQ(module->C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(module->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);

    CK_INFO info;
    std::memset(&info, 0xAA, sizeof(info));
    ASSERT_EQ(module->C_GetInfo(&info), CKR_OK);
    EXPECT_EQ(info.cryptokiVersion.major, 2);
    EXPECT_EQ(info.cryptokiVersion.minor, 20);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.manufacturerID), 32), "JSC_TVR" + std::string(25, ' '));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.libraryDescription), 32),
              "Q.uor_Korvo-7Q_Library" + std::string(10, ' '));
    EXPECT_EQ(info.flags, 0u);
    EXPECT_EQ(info.libraryVersion.major, 1);
    EXPECT_EQ(info.libraryVersion.minor, 0);
    EXPECT_EQ(module->C_GetInfo(nullptr), CKR_ARGUMENTS_BAD);

    EXPECT_EQ(module->C_Finalize(nullptr), CKR_OK);
    EXPECT_EQ(module->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_FALSE(IsLoaded(dist + "/pkfmt.so")) << "the last release unloads the PKI formats library";
    EXPECT_FALSE(IsLoaded(dist + "/cgbase.so"));
    EXPECT_EQ(module->C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(module->C_GetInfo(&info), CKR_OK);
}

// The PKI formats library receives the module's CSP only from version 265
// on, and only when it asks for it.
struct VersionCase {
    const char* version;
    const char* optionA;
    bool handedOver;
};

void PrintTo(const VersionCase& c, std::ostream* os)
{
    *os << "version " << (c.version ? c.version : "default") << ", option A " << (c.optionA ? c.optionA : "default");
}

class Pkcs11ModuleVersions : public Pkcs11Module, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(Pkcs11ModuleVersions, TheCspGoesToThePkiLibraryOnlyAbove264)
{
    const VersionCase& c = GetParam();
    if (c.version != nullptr) setenv("PKFMT_VERSION", c.version, 1);
    if (c.optionA != nullptr) setenv("PKFMT_OPTION_A", c.optionA, 1);
    const std::string dist = fs::path(QVK_PKCS11_MODULE).parent_path().string();
    Module module(QVK_PKCS11_MODULE);
    ASSERT_NE(module.list(), nullptr);
    ASSERT_EQ(module->C_Initialize(nullptr), CKR_OK);
    void* pkfmt = dlopen((dist + "/pkfmt.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(pkfmt, nullptr) << "the PKI formats library is loaded while initialised";
    auto heldCsp = reinterpret_cast<void* (*)()>(dlsym(pkfmt, "PKFMTHeldCSP"));
    ASSERT_NE(heldCsp, nullptr);
    EXPECT_EQ(heldCsp() != nullptr, c.handedOver);
    dlclose(pkfmt);
    EXPECT_EQ(module->C_Finalize(nullptr), CKR_OK);
}

INSTANTIATE_TEST_SUITE_P(Branches, Pkcs11ModuleVersions,
                         ::testing::Values(VersionCase{nullptr, nullptr, false}, VersionCase{"264", "1", false},
                                           VersionCase{"265", "1", true}, VersionCase{"0x200", "1", true},
                                           VersionCase{"265", "0", false}, VersionCase{"fail", "1", false}),
                         [](const ::testing::TestParamInfo<VersionCase>& info) {
                             return "Case" + std::to_string(info.index);
                         });

// Application mutex callbacks that count what the module asks of them.
std::atomic<int> g_creates{0}, g_destroys{0}, g_locks{0}, g_unlocks{0};

CK_RV CountingCreate(CK_VOID_PTR_PTR mutex)
{
    ++g_creates;
    *mutex = new std::atomic<int>(0);
    return CKR_OK;
}
CK_RV CountingDestroy(CK_VOID_PTR mutex)
{
    ++g_destroys;
    delete static_cast<std::atomic<int>*>(mutex);
    return CKR_OK;
}
CK_RV CountingLock(CK_VOID_PTR)
{
    ++g_locks;
    return CKR_OK;
}
CK_RV CountingUnlock(CK_VOID_PTR)
{
    ++g_unlocks;
    return CKR_OK;
}

CK_C_INITIALIZE_ARGS CountingArgs(CK_FLAGS flags)
{
    CK_C_INITIALIZE_ARGS args{};
    args.CreateMutex = CountingCreate;
    args.DestroyMutex = CountingDestroy;
    args.LockMutex = CountingLock;
    args.UnlockMutex = CountingUnlock;
    args.flags = flags;
    return args;
}

TEST_F(Pkcs11Module, MutexCallbacksServeOnlyTheInitialisationThatGaveThem)
{
    Module module(QVK_PKCS11_MODULE);
    ASSERT_NE(module.list(), nullptr);
    CK_C_INITIALIZE_ARGS args = CountingArgs(0);
    ASSERT_EQ(module->C_Initialize(&args), CKR_OK);
    EXPECT_GE(g_creates.load(), 1) << "the library's own lock is the application's";
    ASSERT_EQ(module->C_Finalize(nullptr), CKR_OK);
    EXPECT_EQ(g_destroys.load(), g_creates.load()) << "every mutex made is destroyed";

    // A later initialisation without arguments must not call back into the
    // application's old callbacks.
    const int before = g_creates + g_destroys + g_locks + g_unlocks;
    ASSERT_EQ(module->C_Initialize(nullptr), CKR_OK);
    ASSERT_EQ(module->C_Finalize(nullptr), CKR_OK);
    EXPECT_EQ(g_creates + g_destroys + g_locks + g_unlocks, before);

    // With CKF_OS_LOCKING_OK the callbacks are never used.
    args = CountingArgs(CKF_OS_LOCKING_OK);
    ASSERT_EQ(module->C_Initialize(&args), CKR_OK);
    ASSERT_EQ(module->C_Finalize(nullptr), CKR_OK);
    EXPECT_EQ(g_creates + g_destroys + g_locks + g_unlocks, before);
}

TEST_F(Pkcs11Module, ConcurrentInitialisationsLetExactlyOneStart)
{
    Module module(QVK_PKCS11_MODULE);
    ASSERT_NE(module.list(), nullptr);
    std::atomic<int> ok{0}, already{0}, other{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 6; ++i)
        threads.emplace_back([&] {
            CK_RV rv = module->C_Initialize(nullptr);
            (rv == CKR_OK ? ok : rv == CKR_CRYPTOKI_ALREADY_INITIALIZED ? already : other)++;
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(ok.load(), 1);
    EXPECT_EQ(already.load(), 5);
    EXPECT_EQ(other.load(), 0);
}

TEST_F(Pkcs11Module, MissingDataOfANonZeroLengthIsRefused)
{
    Module module(QVK_PKCS11_MODULE);
    CK_FUNCTION_LIST* f = module.list();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
    CK_OBJECT_HANDLE object = 0;
    CK_ULONG length = 0;
    struct Case {
        const char* name;
        CK_RV got;
    } cases[] = {
        {"C_GenerateRandom", f->C_GenerateRandom(1, nullptr, 16)},
        {"C_InitToken", f->C_InitToken(0, nullptr, 4, nullptr)},
        {"C_InitPIN", f->C_InitPIN(1, nullptr, 4)},
        {"C_SetPIN old", f->C_SetPIN(1, nullptr, 4, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>("1")), 1)},
        {"C_SetPIN new", f->C_SetPIN(1, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>("1")), 1, nullptr, 4)},
        {"C_Login", f->C_Login(1, CKU_USER, nullptr, 4)},
        {"C_CreateObject", f->C_CreateObject(1, nullptr, 2, &object)},
        {"C_GetAttributeValue", f->C_GetAttributeValue(1, 1, nullptr, 2)},
        {"C_SetAttributeValue", f->C_SetAttributeValue(1, 1, nullptr, 2)},
        {"C_FindObjectsInit", f->C_FindObjectsInit(1, nullptr, 2)},
        {"C_FindObjects", f->C_FindObjects(1, nullptr, 2, &length)},
        {"C_DigestUpdate", f->C_DigestUpdate(1, nullptr, 2)},
        {"C_Digest", f->C_Digest(1, nullptr, 2, nullptr, &length)},
        {"C_SignUpdate", f->C_SignUpdate(1, nullptr, 2)},
        {"C_VerifyFinal", f->C_VerifyFinal(1, nullptr, 2)},
        {"C_GetSlotList", f->C_GetSlotList(CK_FALSE, nullptr, nullptr)},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, CKR_ARGUMENTS_BAD) << c.name;
}

}  // namespace
