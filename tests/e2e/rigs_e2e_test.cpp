// Two rigs side by side whose keys have the same serial number, each used
// from the environment its `scripts/keyrig start` printed, as two shells
// would: while a process of one rig keeps the module loaded and logged in on
// its key, the other rig's key gets a token of its own, and each key keeps
// its own label and password.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "E2EProcess.h"
#include "KeyRig.h"
#include "Pkcs11Module.h"

namespace qvk::e2e {
namespace {

// The variables of the "export NAME=VALUE ..." lines.
std::map<std::string, std::string> Exports(const std::string& printed)
{
    std::map<std::string, std::string> values;
    std::istringstream lines(printed);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string word;
        if (!(words >> word) || word != "export") continue;
        while (words >> word) {
            const std::size_t equals = word.find('=');
            if (equals != std::string::npos) values[word.substr(0, equals)] = word.substr(equals + 1);
        }
    }
    return values;
}

struct Rig {
    std::string dir;
    std::string password;
    std::string label;
    std::map<std::string, std::string> environment;
};

std::string Label(CK_FUNCTION_LIST* f, CK_SLOT_ID slot)
{
    CK_TOKEN_INFO info{};
    if (f->C_GetTokenInfo(slot, &info) != CKR_OK) return "(no token information)";
    std::string label(reinterpret_cast<const char*>(info.label), sizeof(info.label));
    return label.substr(0, label.find_last_not_of(' ') + 1);
}

// In a child with the rig's environment: a token on the rig's key, held
// logged in until the gate opens, then the same token and password again and
// the other rig's password refused. The exit status counts the failures.
int UseKey(const Rig& rig, const std::string& otherPassword, Gate& gate)
{
    for (const auto& [name, value] : rig.environment) setenv(name.c_str(), value.c_str(), 1);
    LoadedModule m;
    if (!m.ok()) return 100;
    EXPECT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(m.Slots().size(), 1u);
    EXPECT_EQ(m.InitToken(m.slot, rig.password, rig.label), CKR_OK);
    EXPECT_EQ(Label(m.f, m.slot), rig.label);
    const CK_SESSION_HANDLE held = m.LoggedIn(rig.password);
    gate.SignalReady();
    gate.WaitRelease();
    EXPECT_EQ(Label(m.f, m.slot), rig.label) << "the other rig's token showed through";
    const CK_SESSION_HANDLE again = m.Open();
    EXPECT_EQ(m.f->C_Login(again, CKU_USER, U(otherPassword), otherPassword.size()), CKR_PIN_INCORRECT);
    EXPECT_EQ(m.f->C_CloseSession(again), CKR_OK);
    EXPECT_EQ(m.f->C_Logout(held), CKR_OK);
    EXPECT_EQ(m.f->C_Login(held, CKU_USER, U(rig.password), rig.password.size()), CKR_OK) << "its own password";
    return ::testing::Test::HasFailure() ? 1 : 0;
}

TEST(TwoRigsE2E, KeysWithOneSerialKeepTheirOwnTokens)
{
    Rig rigs[2] = {{KeyRig::ProcessDir() + "-a", "alpha-pass", "rig-a", {}},
                   {KeyRig::ProcessDir() + "-b", "bravo-pass", "rig-b", {}}};
    for (Rig& rig : rigs) {
        std::filesystem::remove_all(rig.dir);
        std::string out, err;
        ASSERT_EQ(KeyRig::RunScript({"start", rig.dir, "--bin", QVK_KEYRIG_BIN_DIR, "--owner", std::to_string(getpid()),
                                     "--key", "100001:18:" + rig.password},
                                    &out, &err),
                  0)
            << err << out;
        rig.environment = Exports(out);
        EXPECT_EQ(rig.environment["PCSCLITE_CSOCK_NAME"], rig.dir + "/pcscd.comm") << out;
        EXPECT_FALSE(rig.environment["WEMU_NAME_PREFIX"].empty()) << out;
    }
    EXPECT_NE(rigs[0].environment["WEMU_NAME_PREFIX"], rigs[1].environment["WEMU_NAME_PREFIX"]);
    std::string again, err;
    ASSERT_EQ(KeyRig::RunScript({"env", rigs[0].dir}, &again, &err), 0) << err;
    EXPECT_EQ(Exports(again), rigs[0].environment) << "keyrig env prints the same environment";

    Gate gates[2];
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
        children[i] = SpawnChild([&, i] { return UseKey(rigs[i], rigs[1 - i].password, gates[i]); });
        ASSERT_TRUE(gates[i].WaitReady()) << "rig " << i << " did not get its token";
    }
    for (int i = 0; i < 2; ++i) {
        gates[i].Release();
        EXPECT_EQ(WaitChild(children[i]), 0) << "rig " << i;
    }
    for (const Rig& rig : rigs) {
        KeyRig::RunScript({"stop", rig.dir}, nullptr, nullptr);
        std::filesystem::remove_all(rig.dir);
    }
}

}  // namespace
}  // namespace qvk::e2e
