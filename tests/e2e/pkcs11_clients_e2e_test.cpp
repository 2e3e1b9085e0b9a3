// Real PKCS#11 clients load the built module against an emulated key behind a
// real pcscd: OpenSC's pkcs11-tool through a token's whole life (first
// initialisation with PyKCS11, re-initialisation, user PIN, login, PIN change,
// random numbers, digests, data objects, its own self-test), a PyKCS11
// application (pkcs11_pykcs11_flows.py), GnuTLS's p11tool with the module as
// its provider, and p11-kit finding the module through its module file.
//
// Work that a client reaches through functions the module does not offer in
// this build (it answers CKR_FUNCTION_NOT_SUPPORTED) is reported as skipped,
// never as passed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "E2EProcess.h"
#include "KeyRig.h"

#ifndef QVK_PKCS11_MODULE
#error "QVK_PKCS11_MODULE must name the built module"
#endif

namespace qvk::e2e {
namespace {

const std::string kModule = QVK_PKCS11_MODULE;
const std::string kSoPin = "12345678";
const std::string kUserPin = "11112222";

bool Installed(const std::string& program)
{
    std::string out;
    return RunShell("command -v " + program, &out) == 0;
}

// The first Python that can import PyKCS11 (Debian's package serves only the
// system interpreter); empty when none can.
std::string PythonWithPyKCS11()
{
    for (const char* candidate : {"/usr/bin/python3", "python3"}) {
        std::string out;
        if (RunShell(std::string(candidate) + " -c 'import PyKCS11'", &out) == 0) return candidate;
    }
    return {};
}

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// A client's refusal because the module does not offer the function.
bool NotOffered(const std::string& out)
{
    return Has(out, "CKR_FUNCTION_NOT_SUPPORTED");
}

// One emulated key per test, initialised through PyKCS11, and the clients'
// command lines.
class Pkcs11ClientsE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!Installed("pkcs11-tool")) GTEST_SKIP() << "pkcs11-tool is not installed (scripts/install-deps)";
        python_ = PythonWithPyKCS11();
        if (python_.empty()) GTEST_SKIP() << "PyKCS11 is not installed (scripts/install-deps)";
        // Named mutexes and shared memory of this test only.
        setenv("WEMU_NAME_PREFIX", ("qvkp11cli" + std::to_string(getpid())).c_str(), 1);
        work_ = KeyRig::ProcessDir() + "-files";
        mkdir(work_.c_str(), 0700);
    }
    void TearDown() override
    {
        std::string out;
        if (!work_.empty()) RunShell("rm -rf '" + work_ + "'", &out);
    }

    void StartKey(uint32_t serial)
    {
        serial_ = serial;
        rig_ = std::make_unique<KeyRig>(std::vector<RigKey>{RigKey(serial)});
    }

    std::string Serial() const
    {
        char text[16];
        std::snprintf(text, sizeof(text), "%06u", serial_);
        return text;
    }

    // First initialisation of the blank key with PyKCS11.
    void InitialiseBlank(const std::string& label)
    {
        std::string out;
        ASSERT_EQ(RunShell(python_ + " " + QVK_E2E_SOURCE_DIR "/pkcs11_init_token.py " + kModule + " " + Serial() +
                               " " + kSoPin + " '" + label + "'",
                           &out),
                  0)
            << out;
        EXPECT_TRUE(Has(out, "label: " + label)) << out;
        EXPECT_TRUE(Has(out, "CKF_TOKEN_INITIALIZED")) << out;
    }

    // A key with an initialised token whose user PIN is kUserPin.
    void StartUserToken(uint32_t serial, const std::string& label)
    {
        StartKey(serial);
        ASSERT_NO_FATAL_FAILURE(InitialiseBlank(label));
        std::string out;
        ASSERT_EQ(Tool("--init-pin --so-pin " + kSoPin + " --pin " + kUserPin, &out), 0) << out;
    }

    // One of the PyKCS11 scripts here, given the module, the key's serial
    // number and the user PIN, then args.
    int PyKCS11Script(const std::string& script, const std::string& args, std::string* out)
    {
        return RunShell(python_ + " " QVK_E2E_SOURCE_DIR "/" + script + " " + kModule + " " + Serial() + " " +
                            kUserPin + args,
                        out);
    }

    int Tool(const std::string& args, std::string* out)
    {
        return RunShell("pkcs11-tool --module " + kModule + " " + args, out);
    }

    std::string File(const std::string& name) const { return work_ + "/" + name; }

    std::string python_;
    std::string work_;
    uint32_t serial_ = 0;
    std::unique_ptr<KeyRig> rig_;
};

// Two blank keys with one password, the second an old-form key: the script
// initialises the key whose serial it is given and leaves the other blank; a
// serial no key has initialises nothing.
TEST_F(Pkcs11ClientsE2E, TheInitialisingScriptTakesTheKeyWithItsSerialOrNone)
{
    rig_ = std::make_unique<KeyRig>(std::vector<RigKey>{RigKey(4411), RigKey(4412, 11)});
    const std::string script = python_ + " " QVK_E2E_SOURCE_DIR "/pkcs11_init_token.py " + kModule + " ";
    std::string out;
    EXPECT_EQ(RunShell(script + "004413 " + kSoPin + " none", &out), 1) << out;
    EXPECT_TRUE(Has(out, "no key with serial number 004413")) << out;
    ASSERT_EQ(RunShell(script + "004412 " + kSoPin + " second", &out), 0) << out;
    ASSERT_EQ(Tool("-L", &out), 0) << out;
    // Slot 0 is the first reader's key, 4411; slot 1 the second's.
    const std::size_t first = out.find("Slot 0"), second = out.find("Slot 1");
    ASSERT_TRUE(first != std::string::npos && second != std::string::npos) << out;
    EXPECT_TRUE(Has(out.substr(first, second - first), "token not recognized")) << out;
    EXPECT_TRUE(Has(out.substr(second), "token label        : second")) << out;
    EXPECT_TRUE(Has(out.substr(second), "serial num         : 004412")) << out;
}

TEST_F(Pkcs11ClientsE2E, PkcsToolThroughATokensLife)
{
    StartKey(4401);
    std::string out;
    ASSERT_EQ(Tool("-L", &out), 0) << out;
    EXPECT_TRUE(Has(out, "token not recognized")) << "a key never initialised\n" << out;
    // The client asks for the token information first and stops there.
    EXPECT_NE(Tool("--init-token --so-pin " + kSoPin + " --label x", &out), 0) << out;
    EXPECT_TRUE(Has(out, "CKR_TOKEN_NOT_RECOGNIZED")) << out;

    InitialiseBlank("first");
    ASSERT_EQ(Tool("-T", &out), 0) << out;
    EXPECT_TRUE(Has(out, "token label        : first")) << out;
    EXPECT_TRUE(Has(out, "serial num         : " + Serial())) << out;

    // Re-initialisation by the client: a wrong SO PIN changes nothing.
    EXPECT_NE(Tool("--init-token --so-pin 87654321 --label wrong", &out), 0) << out;
    EXPECT_TRUE(Has(out, "CKR_PIN_INCORRECT")) << out;
    ASSERT_EQ(Tool("--init-token --so-pin " + kSoPin + " --label second", &out), 0) << out;
    EXPECT_TRUE(Has(out, "Token successfully initialized")) << out;
    ASSERT_EQ(Tool("-T", &out), 0) << out;
    EXPECT_TRUE(Has(out, "token label        : second")) << out;
    EXPECT_FALSE(Has(out, "first")) << out;

    ASSERT_EQ(Tool("--init-pin --so-pin " + kSoPin + " --pin 11112222", &out), 0) << out;
    EXPECT_TRUE(Has(out, "User PIN successfully initialized")) << out;

    ASSERT_EQ(Tool("--login --pin 11112222 --generate-random 100 --output-file " + File("random1"), &out), 0) << out;
    ASSERT_EQ(Tool("--login --pin 11112222 --generate-random 100 --output-file " + File("random2"), &out), 0) << out;
    const std::string random1 = ReadFile(File("random1"));
    EXPECT_EQ(random1.size(), 100u);
    EXPECT_NE(random1, ReadFile(File("random2")));
    EXPECT_NE(random1, std::string(100, '\0'));

    ASSERT_EQ(Tool("--login --pin 11112222 --change-pin --new-pin 33334444", &out), 0) << out;
    EXPECT_TRUE(Has(out, "PIN successfully changed")) << out;
    EXPECT_NE(Tool("--login --pin 11112222 --generate-random 8", &out), 0) << "the old PIN\n" << out;
    EXPECT_TRUE(Has(out, "CKR_PIN_INCORRECT")) << out;
    EXPECT_EQ(Tool("--login --pin 33334444 --generate-random 8 --output-file " + File("random3"), &out), 0) << out;
    EXPECT_EQ(ReadFile(File("random3")).size(), 8u);

    // The object list after a login.
    const int listed = Tool("--login --pin 33334444 -O", &out);
    if (!NotOffered(out)) {
        EXPECT_EQ(listed, 0) << out;
    }
}

TEST_F(Pkcs11ClientsE2E, PkcsToolDescribesTheModuleSlotAndMechanisms)
{
    StartKey(4402);
    InitialiseBlank("mechs");
    std::string out;
    ASSERT_EQ(Tool("-I", &out), 0) << out;
    EXPECT_TRUE(Has(out, "Cryptoki version 2.20")) << out;
    ASSERT_EQ(Tool("-L", &out), 0) << out;
    EXPECT_TRUE(Has(out, "Slot 0 (0x0): Q.uor_Korvo-7Q_Slot")) << out;
    EXPECT_TRUE(Has(out, "token flags        : login required, rng, token initialized")) << out;
    ASSERT_EQ(Tool("-M", &out), 0) << out;
    for (const char* line :
         {"mechtype-0x80420023, hw, digest", "mechtype-0x80420042, keySize={163,509}, hw, generate_key_pair",
          "mechtype-0x80420034, keySize={163,509}, hw, sign, verify",
          "mechtype-0x80420043, keySize={163,509}, hw, derive",
          "mechtype-0x80420061, keySize={32,32}, hw, wrap, unwrap"})
        EXPECT_TRUE(Has(out, line)) << line << "\n" << out;
}

TEST_F(Pkcs11ClientsE2E, PkcsToolHashesWithDstu7564AndGost34311)
{
    StartKey(4403);
    InitialiseBlank("hash");
    std::string message;
    for (int i = 0; i < 64; ++i) message += static_cast<char>(i);
    WriteFile(File("message"), message);
    std::string out;
    const int status = Tool("--hash -m 0x80420023 -i " + File("message") + " -o " + File("digest"), &out);
    if (NotOffered(out)) GTEST_SKIP() << "the module does not hash yet:\n" << out;
    ASSERT_EQ(status, 0) << out;
    // The standard's example: 512 bits 00 01 .. 3F, 256-bit hash.
    EXPECT_EQ(Hex(ReadFile(File("digest"))), "08F4EE6F1BE6903B324C4E27990CB24EF69DD58DBE84813EE0A52F6631239875");

    // GOST 34.311 with no parameter: the published answer under the default S-box.
    WriteFile(File("message"), "12345678901234567890123456789011");
    ASSERT_EQ(Tool("--hash -m 0x80420021 -i " + File("message") + " -o " + File("digest"), &out), 0) << out;
    EXPECT_EQ(Hex(ReadFile(File("digest"))), "7686F3F4B113AADC97BCA9EA054F41821F0676C5C28FFB987E41797A568E1ED4");
}

TEST_F(Pkcs11ClientsE2E, PkcsToolKeepsADataObjectAcrossProcesses)
{
    ASSERT_NO_FATAL_FAILURE(StartUserToken(4404, "objects"));
    std::string out;
    WriteFile(File("note"), "a note kept on the key\n");
    const int written = Tool("--login --pin 11112222 --write-object " + File("note") +
                                 " --type data --label note --application-label demo",
                             &out);
    if (NotOffered(out)) GTEST_SKIP() << "the module does not create objects yet:\n" << out;
    ASSERT_EQ(written, 0) << out;

    // Each call below is a new process, which finds the object on the key.
    ASSERT_EQ(Tool("--login --pin " + kUserPin + " -O", &out), 0) << out;
    EXPECT_TRUE(Has(out, "Data object")) << out;
    EXPECT_TRUE(Has(out, "label:          'note'")) << out;
    EXPECT_TRUE(Has(out, "application:    'demo'")) << out;
    ASSERT_EQ(Tool("--login --pin 11112222 --read-object --type data --label note -o " + File("back"), &out), 0) << out;
    EXPECT_EQ(ReadFile(File("back")), "a note kept on the key\n");

    ASSERT_EQ(Tool("--login --pin 11112222 --delete-object --type data --label note", &out), 0) << out;
    ASSERT_EQ(Tool("--login --pin " + kUserPin + " -O", &out), 0) << out;
    EXPECT_FALSE(Has(out, "note")) << out;
}

TEST_F(Pkcs11ClientsE2E, PkcsToolSelfTestPasses)
{
    ASSERT_NO_FATAL_FAILURE(StartUserToken(4405, "selftest"));
    std::string out;
    const int status = Tool("--test --login --pin 11112222", &out);
    if (NotOffered(out)) GTEST_SKIP() << "the self-test reaches functions the module does not offer yet:\n" << out;
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(Has(out, "No errors")) << out;
    EXPECT_FALSE(Has(out, "ERR")) << out;
    EXPECT_TRUE(Has(out, "all 4 digest functions seem to work")) << out;
}

TEST_F(Pkcs11ClientsE2E, PyKCS11Flows)
{
    ASSERT_NO_FATAL_FAILURE(StartUserToken(4408, "python"));
    std::string out;
    const int status = PyKCS11Script("pkcs11_pykcs11_flows.py", "", &out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_FALSE(Has(out, "FAIL")) << out;
    EXPECT_TRUE(Has(out, "ok   CK_ULONG is 8 bytes")) << out;
    EXPECT_TRUE(Has(out, "ok   random numbers")) << out;
    EXPECT_TRUE(Has(out, "ok   key unwrapped by mechanism 0x80420016 under another derivation")) << out;
    EXPECT_TRUE(Has(out, "ok   key unwrapped by mechanism 0x80420061 under another derivation")) << out;
    if (Has(out, "skip ")) GTEST_SKIP() << "flows the module does not offer yet:\n" << out;
}

// Logins and session-object handles as PyKCS11 meets them: a second login
// refused, one logout enough, a handle usable from another session.
TEST_F(Pkcs11ClientsE2E, PyKCS11LoginsAndHandlesAcrossSessions)
{
    ASSERT_NO_FATAL_FAILURE(StartUserToken(4410, "sessions"));
    std::string out;
    EXPECT_EQ(PyKCS11Script("pkcs11_sessions.py", "", &out), 0) << out;
    EXPECT_FALSE(Has(out, "FAIL")) << out;
    EXPECT_TRUE(Has(out, "ok   destroyed through another session")) << out;
}

// A signing application's path with PyKCS11: a key pair made on the key,
// a signature, its verification; then pkcs11-tool, another client in another
// process, finds both keys on the token.
TEST_F(Pkcs11ClientsE2E, PyKCS11MakesAKeyPairAndSignsAndVerifies)
{
    ASSERT_NO_FATAL_FAILURE(StartUserToken(4409, "signing"));
    std::string out;
    const int status = PyKCS11Script("pkcs11_sign_verify.py", " 163", &out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_FALSE(Has(out, "FAIL")) << out;
    EXPECT_TRUE(Has(out, "ok   signature of 42 bytes")) << out;  // an order of 163 bits
    EXPECT_TRUE(Has(out, "ok   the public key verifies it")) << out;
    EXPECT_TRUE(Has(out, "ok   a changed signature does not verify")) << out;

    ASSERT_EQ(Tool("--login --pin " + kUserPin + " -O", &out), 0) << out;
    EXPECT_TRUE(Has(out, "Private Key Object")) << out;
    EXPECT_TRUE(Has(out, "Public Key Object")) << out;
    EXPECT_TRUE(Has(out, "label:      demo signature key")) << out;
}

TEST_F(Pkcs11ClientsE2E, P11toolListsTokensMechanismsAndRandomNumbers)
{
    if (!Installed("p11tool")) GTEST_SKIP() << "p11tool is not installed (scripts/install-deps)";
    StartKey(4406);
    InitialiseBlank("gnutls");
    const std::string p11tool = "p11tool --provider " + kModule + " ";
    const std::string url = "'pkcs11:serial=" + Serial() + "'";
    std::string out;
    ASSERT_EQ(RunShell(p11tool + "--list-tokens", &out), 0) << out;
    EXPECT_TRUE(Has(out, "URL: pkcs11:model=Q.uor_Korvo-7Q;manufacturer=JSC_TVR;serial=" + Serial() + ";token=gnutls"))
        << out;
    EXPECT_TRUE(Has(out, "Label: gnutls")) << out;

    ASSERT_EQ(RunShell(p11tool + "--list-mechanisms " + url, &out), 0) << out;
    EXPECT_TRUE(Has(out, "[0x80420042] UNKNOWN keysize range (163, 509) hw generate_key_pair")) << out;
    EXPECT_TRUE(Has(out, "[0x80420023] UNKNOWN hw digest")) << out;

    ASSERT_EQ(RunShell(p11tool + "--generate-random 48 " + url + " > " + File("random"), &out), 0) << out;
    const std::string random = ReadFile(File("random"));
    EXPECT_EQ(random.size(), 48u);
    EXPECT_NE(random, std::string(48, '\0'));

    // A data object that another client wrote is listed.
    WriteFile(File("object"), "seen by p11tool\n");
    ASSERT_EQ(
        Tool("--login --pin " + kSoPin + " --write-object " + File("object") + " --type data --label shared", &out), 0)
        << out;
    ASSERT_EQ(RunShell(p11tool + "--list-all " + url, &out), 0) << out;
    EXPECT_TRUE(Has(out, "serial=" + Serial() + ";token=gnutls;object=shared;type=data")) << out;
    EXPECT_TRUE(Has(out, "Type: Data")) << out;
}

// A certificate that pkcs11-tool writes in the user's session is not trusted,
// one it writes in the SO's session is: GnuTLS's p11tool lists the trusted ones.
TEST_F(Pkcs11ClientsE2E, P11toolTrustsOnlyTheCertificateTheSoWrote)
{
    if (!Installed("p11tool") || !Installed("openssl")) GTEST_SKIP() << "p11tool or openssl is not installed";
    ASSERT_NO_FATAL_FAILURE(StartUserToken(4411, "trust"));
    std::string out;
    for (const std::string name : {"user", "so"})
        ASSERT_EQ(RunShell("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " +
                               File(name + ".key") + " -subj /CN=" + name + " -days 30 -outform DER -out " +
                               File(name + ".der"),
                           &out),
                  0)
            << out;
    // The key has one password: the user PIN set last is the SO's too.
    ASSERT_EQ(Tool("--login --pin " + kUserPin + " --write-object " + File("user.der") + " --type cert --label by-user",
                   &out),
              0)
        << out;
    ASSERT_EQ(Tool("--login --login-type so --so-pin " + kUserPin + " --write-object " + File("so.der") +
                       " --type cert --label by-so",
                   &out),
              0)
        << out;
    const std::string p11tool = "p11tool --provider " + kModule + " ";
    const std::string url = "'pkcs11:serial=" + Serial() + "'";
    ASSERT_EQ(RunShell(p11tool + "--list-all-certs " + url, &out), 0) << out;
    EXPECT_TRUE(Has(out, "object=by-user;type=cert")) << out;
    ASSERT_EQ(RunShell(p11tool + "--list-all-trusted " + url, &out), 0) << out;
    EXPECT_TRUE(Has(out, "object=by-so;type=cert")) << out;
    EXPECT_FALSE(Has(out, "object=by-user")) << out;
}

TEST_F(Pkcs11ClientsE2E, P11KitFindsTheModuleThroughItsModuleFile)
{
    if (!Installed("p11tool")) GTEST_SKIP() << "p11tool is not installed (scripts/install-deps)";
    StartKey(4407);
    InitialiseBlank("registered");
    // The user's home is this test's folder, where the module file that the
    // build puts next to the module is registered.
    const std::string config = File("config");
    std::string out;
    ASSERT_EQ(RunShell("mkdir -p " + config + "/.config/pkcs11/modules && cp " QVK_P11KIT_MODULE_FILE " " + config +
                           "/.config/pkcs11/modules/",
                       &out),
              0)
        << out;
    EXPECT_TRUE(Has(ReadFile(QVK_P11KIT_MODULE_FILE), "module: " + kModule));
    // p11-kit reads no user configuration in a program run as root: root runs
    // the client in a user namespace of its own, where it is not root.
    std::string client = "HOME=" + config + " p11tool --list-tokens";
    if (getuid() == 0) {
        if (RunShell("unshare --user true", &out) != 0)
            GTEST_SKIP() << "run as root without user namespaces, p11-kit ignores user modules:\n" << out;
        client = "HOME=" + config + " unshare --user p11tool --list-tokens";
    }
    ASSERT_EQ(RunShell(client, &out), 0) << out;
    EXPECT_TRUE(Has(out, "serial=" + Serial() + ";token=registered")) << out;
}

}  // namespace
}  // namespace qvk::e2e
