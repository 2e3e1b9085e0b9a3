// A real PKCS#11 client, OpenSC's pkcs11-tool, loads the built module from
// the distribution folder, against an emulated key behind a real pcscd, and
// prints what the module says about itself and its slot.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "E2EProcess.h"
#include "KeyRig.h"
#include "Pkcs11Module.h"
#include "pkcs11/pkcs11ua.h"

namespace {

using qvk::e2e::KeyRig;
using qvk::e2e::RigKey;
using qvk::e2e::RunShell;

// Initialised through the module itself, with the rig's password: the
// client asks for the token information first, which a key never
// initialised refuses.
void InitializeThroughTheModule(const std::string& label)
{
    qvk::e2e::LoadedModule m;
    ASSERT_TRUE(m.ok()) << dlerror();
    m.InitializeToken(label);
}

TEST(Pkcs11ToolE2E, PrintsTheModuleInformation)
{
    std::string where;
    if (RunShell("command -v pkcs11-tool", &where) != 0)
        GTEST_SKIP() << "pkcs11-tool is not installed (scripts/install-deps)";
    setenv("WEMU_NAME_PREFIX", ("qvkp11tool" + std::to_string(getpid())).c_str(), 1);
    KeyRig rig({RigKey(4321)});
    std::string out;
    const int status = RunShell(std::string("pkcs11-tool --module ") + QVK_PKCS11_MODULE + " -I", &out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Cryptoki version 2.20"), std::string::npos) << out;
    EXPECT_NE(out.find("Manufacturer     JSC_TVR"), std::string::npos) << out;
    EXPECT_NE(out.find("Library          Q.uor_Korvo-7Q_Library (ver 1.0)"), std::string::npos) << out;

    out.clear();
    EXPECT_EQ(RunShell(std::string("pkcs11-tool --module ") + QVK_PKCS11_MODULE + " -L", &out), 0) << out;
    EXPECT_NE(out.find("Slot 0 (0x0): Q.uor_Korvo-7Q_Slot"), std::string::npos) << out;
    EXPECT_NE(out.find("token not recognized"), std::string::npos) << "a key never initialised\n" << out;

    out.clear();
    EXPECT_EQ(RunShell(std::string("pkcs11-tool --module ") + QVK_PKCS11_MODULE + " -M", &out), 0) << out;
    EXPECT_NE(out.find("mechtype-0x80420036, keySize={163,509}, hw, sign, verify, EC F_2M, EC parameters, EC OID, "
                       "EC compressed"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("mechtype-0x80420011, keySize={32,32}, hw, encrypt, decrypt"), std::string::npos) << out;
}

TEST(Pkcs11ToolE2E, ListsAnInitialisedToken)
{
    std::string where;
    if (RunShell("command -v pkcs11-tool", &where) != 0)
        GTEST_SKIP() << "pkcs11-tool is not installed (scripts/install-deps)";
    setenv("WEMU_NAME_PREFIX", ("qvkp11tool" + std::to_string(getpid())).c_str(), 1);
    KeyRig rig({RigKey(4322, 18, "12345678")});
    InitializeThroughTheModule("\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87");  // Cyrillic "Ключ"
    std::string out;
    EXPECT_EQ(RunShell(std::string("pkcs11-tool --module ") + QVK_PKCS11_MODULE + " -L", &out), 0) << out;
    EXPECT_NE(out.find("token label        : \xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87"), std::string::npos) << out;
    EXPECT_NE(out.find("token manufacturer : JSC_TVR"), std::string::npos) << out;
    EXPECT_NE(out.find("token model        : Q.uor_Korvo-7Q"), std::string::npos) << out;
    EXPECT_NE(out.find("serial num         : 004322"), std::string::npos) << out;
    EXPECT_NE(out.find("token flags        : login required, rng, token initialized"), std::string::npos) << out;
}

// pkcs11-tool stores a certificate OpenSSL made as a token object (it takes
// the subject, issuer and serial number from it), lists it, reads it back
// byte for byte and deletes it.
TEST(Pkcs11ToolE2E, WritesReadsAndDeletesACertificate)
{
    std::string where;
    if (RunShell("command -v pkcs11-tool && command -v openssl", &where) != 0)
        GTEST_SKIP() << "pkcs11-tool or openssl is not installed (scripts/install-deps)";
    setenv("WEMU_NAME_PREFIX", ("qvkp11tool" + std::to_string(getpid())).c_str(), 1);
    KeyRig rig({RigKey(4323, 18, "12345678")});
    InitializeThroughTheModule("certificates");
    const std::string dir = "/tmp/qvk-tool-cert-" + std::to_string(getpid());
    const std::string tool = std::string("pkcs11-tool --module ") + QVK_PKCS11_MODULE;
    std::string out;
    ASSERT_EQ(RunShell("rm -rf " + dir + " && mkdir -p " + dir +
                           " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30"
                           " -subj '/O=Rig/CN=Tool holder' -set_serial 4660 -keyout " +
                           dir + "/key.pem -outform DER -out " + dir + "/cert.der",
                       &out),
              0)
        << out;

    out.clear();
    EXPECT_EQ(RunShell(tool + " --login --pin 12345678 --write-object " + dir +
                           "/cert.der --type cert --label tool-cert --id 0A0B",
                       &out),
              0)
        << out;
    out.clear();
    EXPECT_EQ(RunShell(tool + " -O", &out), 0) << out;
    EXPECT_NE(out.find("Certificate Object; type = X.509 cert"), std::string::npos) << out;
    EXPECT_NE(out.find("label:      tool-cert"), std::string::npos) << out;
    EXPECT_NE(out.find("subject:    DN: O=Rig, CN=Tool holder"), std::string::npos) << out;
    EXPECT_NE(out.find("serial:     1234"), std::string::npos) << out;
    EXPECT_NE(out.find("ID:         0a0b"), std::string::npos) << out;

    out.clear();
    EXPECT_EQ(RunShell(tool + " --read-object --type cert --label tool-cert -o " + dir + "/back.der && cmp " + dir +
                           "/cert.der " + dir + "/back.der",
                       &out),
              0)
        << out;
    out.clear();
    EXPECT_EQ(RunShell(tool + " --login --pin 12345678 --delete-object --type cert --label tool-cert", &out), 0) << out;
    out.clear();
    EXPECT_EQ(RunShell(tool + " -O", &out), 0) << out;
    EXPECT_EQ(out.find("Certificate Object"), std::string::npos) << out;
    RunShell("rm -rf " + dir, &out);
}

}  // namespace
