// The emulated keys behind a real pcscd: what the device protocol relies on
// of the readers (names, T=1, the reader-name attribute), the device
// information and clock commands sent as raw APDUs, unplug and replug, the
// fault switches, and key state that outlives the emulator process.

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <winscard.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "E2EProcess.h"
#include "KeyRig.h"

namespace qvk::e2e {
namespace {

constexpr char kModelPrefix[] = "TVR Q.uor Korvo-7Q";
constexpr DWORD kAttrDeviceSystemNameA = 0x7FFF0004;
constexpr uint8_t kCmdGetClock = 2, kCmdSetClock = 3, kCmdDeviceInfo = 13;

// One unprotected request block (mode 0) as the FF 14 pseudo-APDU; B is the
// block size, 64 (old form) or 76 (new form).
std::vector<uint8_t> RequestApdu(size_t B, uint8_t cmd, const std::vector<uint8_t>& data = {})
{
    // Header, block bytes 1 .. B-1 (byte 0, the direction, is not sent), Le.
    std::vector<uint8_t> apdu(B + 5, 0);
    apdu[0] = 0xFF;
    apdu[1] = 0x14;
    apdu[4] = static_cast<uint8_t>(B - 1);
    apdu[5] = cmd;  // block byte 1; mode and parameter stay 0
    for (size_t i = 0; i < data.size(); ++i) apdu[5 + 3 + i] = data[i];
    apdu[B + 4] = static_cast<uint8_t>(B + 2);
    return apdu;
}

struct Answer {
    LONG rv = 0;
    std::vector<uint8_t> bytes;  // block bytes 1 .. B-1 as received, then anything else
    uint8_t command() const { return bytes.at(0); }
    uint8_t mode() const { return bytes.at(1); }
    uint8_t status() const { return bytes.at(2); }
    uint32_t DataU32(size_t offset) const
    {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | bytes.at(3 + offset + static_cast<size_t>(i));
        return v;
    }
    uint8_t DataByte(size_t offset) const { return bytes.at(3 + offset); }
};

class Card {
public:
    explicit Card(const std::string& reader)
    {
        EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx_), SCARD_S_SUCCESS);
        connectRv_ = SCardConnect(ctx_, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &handle_, &protocol_);
    }
    ~Card()
    {
        if (connectRv_ == SCARD_S_SUCCESS) SCardDisconnect(handle_, SCARD_LEAVE_CARD);
        if (ctx_) SCardReleaseContext(ctx_);
    }
    LONG connectRv() const { return connectRv_; }
    DWORD protocol() const { return protocol_; }
    SCARDHANDLE handle() const { return handle_; }

    Answer Send(const std::vector<uint8_t>& apdu) const
    {
        Answer a;
        uint8_t buf[256];
        DWORD len = sizeof buf;
        a.rv = SCardTransmit(handle_, SCARD_PCI_T1, apdu.data(), static_cast<DWORD>(apdu.size()), nullptr, buf, &len);
        if (a.rv == SCARD_S_SUCCESS) a.bytes.assign(buf, buf + len);
        return a;
    }

private:
    SCARDCONTEXT ctx_ = 0;
    SCARDHANDLE handle_ = 0;
    DWORD protocol_ = 0;
    LONG connectRv_ = SCARD_E_UNEXPECTED;
};

std::vector<std::string> ListReaders()
{
    SCARDCONTEXT ctx = 0;
    std::vector<std::string> names;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS) return names;
    char buf[2048];
    DWORD len = sizeof buf;
    if (SCardListReaders(ctx, "SCard$AllReaders", buf, &len) == SCARD_S_SUCCESS)
        for (const char* p = buf; *p; p += std::strlen(p) + 1) names.emplace_back(p);
    SCardReleaseContext(ctx);
    return names;
}

const std::vector<RigKey> kTwoKeys = {
    RigKey(421001, 18, "alpha-1"),
    RigKey(421002, 9, "beta-2"),
};

TEST(KeyRigE2E, PcscdListsOneModelReaderPerKeyWithTheKeyInserted)
{
    KeyRig rig(kTwoKeys);
    std::vector<std::string> readers = ListReaders();
    ASSERT_EQ(readers,
              (std::vector<std::string>{std::string(kModelPrefix) + " 00 00", std::string(kModelPrefix) + " 00 01"}));
    for (int n = 0; n < 2; ++n) {
        EXPECT_TRUE(rig.WaitCard(n, true, 0)) << readers[n];
        Card card(readers[n]);
        ASSERT_EQ(card.connectRv(), SCARD_S_SUCCESS) << readers[n];
        EXPECT_EQ(card.protocol(), static_cast<DWORD>(SCARD_PROTOCOL_T1));
        // The borrowed-handle path reads the reader name back from a card handle.
        char name[257];
        DWORD len = sizeof name;
        ASSERT_EQ(SCardGetAttrib(card.handle(), kAttrDeviceSystemNameA, reinterpret_cast<LPBYTE>(name), &len),
                  SCARD_S_SUCCESS);
        ASSERT_GT(len, 0u);
        EXPECT_EQ(std::string(name, strnlen(name, len)), readers[n]);
    }
}

TEST(KeyRigE2E, DeviceInformationCarriesTheConfiguredSerialVersionAndCapability)
{
    KeyRig rig(kTwoKeys);
    struct Case {
        int reader;
        size_t blockSize;
        uint32_t serial;
        uint8_t version;
        uint32_t capability;
    } cases[] = {
        // Enumeration asks every key in the old block size: the version is not known yet.
        {0, 64, 421001, 18, 0x200},
        {1, 64, 421002, 9, 0},
        {0, 76, 421001, 18, 0x200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("reader " + std::to_string(c.reader) + " block " + std::to_string(c.blockSize));
        Card card(KeyRig::ReaderName(c.reader));
        ASSERT_EQ(card.connectRv(), SCARD_S_SUCCESS);
        Answer a = card.Send(RequestApdu(c.blockSize, kCmdDeviceInfo));
        ASSERT_EQ(a.rv, SCARD_S_SUCCESS);
        ASSERT_GE(a.bytes.size(), c.blockSize - 1);
        EXPECT_EQ(a.command(), kCmdDeviceInfo);
        EXPECT_EQ(a.mode(), 0) << "device information is never protected";
        EXPECT_EQ(a.status(), 0);
        EXPECT_EQ(a.DataU32(0), c.serial);
        EXPECT_EQ(a.DataByte(5), c.version);
        EXPECT_EQ(a.DataByte(7) & 0x80, 0) << "key reports not ready";
        EXPECT_EQ(a.DataU32(8) & 0x0FFFFFFF, c.capability);
    }
    std::ifstream log(rig.dir() + "/commands.log");
    std::string text((std::istreambuf_iterator<char>(log)), {});
    EXPECT_NE(text.find("key1 cmd=13"), std::string::npos) << text;
}

TEST(KeyRigE2E, UnplugEmptiesTheReaderAndReplugBringsTheKeyBackWithItsData)
{
    KeyRig rig(kTwoKeys);
    const uint32_t setTo = 1500000000;  // far from now, so the stored clock is recognisable
    {
        Card card(KeyRig::ReaderName(0));
        ASSERT_EQ(card.connectRv(), SCARD_S_SUCCESS);
        Answer set = card.Send(RequestApdu(76, kCmdSetClock, {0x00, 0x2F, 0x68, 0x59}));
        ASSERT_EQ(set.rv, SCARD_S_SUCCESS);
        ASSERT_EQ(set.status(), 0);
    }

    Card held(KeyRig::ReaderName(0));  // a connection open across the unplug
    ASSERT_EQ(held.connectRv(), SCARD_S_SUCCESS);
    rig.Control("unplug 0");
    ASSERT_TRUE(rig.WaitCard(0, false));
    EXPECT_TRUE(rig.WaitCard(1, true, 0)) << "the other key must stay";
    EXPECT_EQ(ListReaders().size(), 2u) << "the reader stays, empty";
    EXPECT_NE(held.Send(RequestApdu(76, kCmdDeviceInfo)).rv, SCARD_S_SUCCESS);
    EXPECT_EQ(Card(KeyRig::ReaderName(0)).connectRv(), SCARD_E_NO_SMARTCARD);

    rig.Control("replug 0");
    ASSERT_TRUE(rig.WaitCard(0, true));
    Card again(KeyRig::ReaderName(0));
    ASSERT_EQ(again.connectRv(), SCARD_S_SUCCESS);
    Answer info = again.Send(RequestApdu(64, kCmdDeviceInfo));
    ASSERT_EQ(info.rv, SCARD_S_SUCCESS);
    EXPECT_EQ(info.DataU32(0), 421001u);
    Answer clock = again.Send(RequestApdu(76, kCmdGetClock));
    ASSERT_EQ(clock.rv, SCARD_S_SUCCESS);
    ASSERT_EQ(clock.status(), 0);
    EXPECT_GE(clock.DataU32(0), setTo);
    EXPECT_LT(clock.DataU32(0), setTo + 60);
}

// Quick unplug and replug cycles while eight clients keep working with the
// key: after every replug pcscd must see the key again (and it must answer),
// however the replug falls between the reader driver's presence polls and the
// clients' transmissions.
TEST(KeyRigE2E, QuickReplugsUnderLoadAlwaysBringTheKeyBack)
{
    KeyRig rig(std::vector<RigKey>{RigKey(421401, 18)});
    // The load comes from eight client processes, each with one thread: the
    // pcsc-lite client library of this system has crashed now and then in
    // SCardDisconnect with eight threads of one process connecting and
    // disconnecting across replugs, and what is tested here is the rig.
    struct Shared {
        std::atomic<bool> stop;
        std::atomic<long> answered;
    };
    void* mapped = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    auto* shared = new (mapped) Shared{{false}, {0}};
    std::atomic<bool>& stop = shared->stop;
    std::atomic<long>& answered = shared->answered;
    std::vector<pid_t> load;
    for (int t = 0; t < 8; ++t)
        load.push_back(SpawnChild([&] {
            while (!stop) {
                Card card(KeyRig::ReaderName(0));
                if (card.connectRv() != SCARD_S_SUCCESS) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    continue;
                }
                for (int i = 0; i < 20 && !stop; ++i) {
                    if (card.Send(RequestApdu(76, kCmdDeviceInfo)).rv != SCARD_S_SUCCESS) break;
                    ++answered;
                }
            }
            return 0;
        }));
    auto stopLoad = [&] {
        stop = true;
        for (pid_t child : load) EXPECT_EQ(WaitChild(child), 0);
        load.clear();
    };
    const auto start = std::chrono::steady_clock::now();
    int cycles = 0;
    // Bounded: at most about 20 seconds whatever happens.
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(12)) {
        rig.Control("unplug 0");
        // pcscd has seen the key go before it comes back.
        if (!rig.WaitCard(0, false, 5000)) {
            stopLoad();
            munmap(mapped, sizeof(Shared));
            FAIL() << "cycle " << cycles << ": still present after the unplug\n" << rig.Control("keys");
        }
        rig.Control("replug 0");
        ++cycles;
        const long before = answered;
        const bool back = rig.WaitCard(0, true, 5000);
        // Present is not enough: the key must answer again.
        bool answering = false;
        for (int i = 0; back && i < 100 && !answering; ++i) {
            answering = answered > before;
            if (!answering) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!back || !answering) {
            stopLoad();
            munmap(mapped, sizeof(Shared));
            FAIL() << "cycle " << cycles << ": " << (back ? "present but not answering" : "not present") << "\n"
                   << rig.Control("keys");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    stopLoad();
    munmap(mapped, sizeof(Shared));
    EXPECT_GE(cycles, 4);
    Card card(KeyRig::ReaderName(0));
    ASSERT_EQ(card.connectRv(), SCARD_S_SUCCESS);
    Answer info = card.Send(RequestApdu(64, kCmdDeviceInfo));
    ASSERT_EQ(info.rv, SCARD_S_SUCCESS);
    EXPECT_EQ(info.DataU32(0), 421401u);
}

TEST(KeyRigE2E, KeyStateOutlivesAKilledEmulatorProcess)
{
    KeyRig rig(std::vector<RigKey>{RigKey(421101, 18)});
    {
        Card card(KeyRig::ReaderName(0));
        ASSERT_EQ(card.connectRv(), SCARD_S_SUCCESS);
        ASSERT_EQ(card.Send(RequestApdu(76, kCmdSetClock, {0x00, 0x2F, 0x68, 0x59})).status(), 0);
    }
    // Killed without a chance to save on the way out: the state file must
    // already hold what the key acknowledged.
    rig.KillEmulator();
    rig.Stop();
    // The stored key wins over the options of a fresh one.
    rig.Start(std::vector<RigKey>{RigKey(999999, 9)});
    Card card(KeyRig::ReaderName(0));
    ASSERT_EQ(card.connectRv(), SCARD_S_SUCCESS);
    Answer info = card.Send(RequestApdu(64, kCmdDeviceInfo));
    ASSERT_EQ(info.rv, SCARD_S_SUCCESS);
    EXPECT_EQ(info.DataU32(0), 421101u);
    EXPECT_EQ(info.DataByte(5), 18);
    Answer clock = card.Send(RequestApdu(76, kCmdGetClock));
    ASSERT_EQ(clock.rv, SCARD_S_SUCCESS);
    EXPECT_GE(clock.DataU32(0), 1500000000u);
    EXPECT_LT(clock.DataU32(0), 1500000000u + 60);
}

TEST(KeyRigE2E, FaultSwitchesReachTheKeyAndClearAgain)
{
    KeyRig rig(std::vector<RigKey>{RigKey(421201, 18)});
    Card card(KeyRig::ReaderName(0));
    ASSERT_EQ(card.connectRv(), SCARD_S_SUCCESS);
    const auto infoRequest = RequestApdu(76, kCmdDeviceInfo);
    const size_t fullLength = card.Send(infoRequest).bytes.size();

    rig.Control("busy 0 on");
    EXPECT_EQ(card.Send(infoRequest).status(), 24);
    rig.Control("busy 0 off");
    EXPECT_EQ(card.Send(infoRequest).status(), 0);

    rig.Control("not-ready 0 on");
    Answer notReady = card.Send(infoRequest);
    EXPECT_EQ(notReady.DataByte(7) & 0x80, 0x80);
    rig.Control("not-ready 0 off");

    rig.Control("short-answer 0 on");
    EXPECT_LT(card.Send(infoRequest).bytes.size(), fullLength);
    rig.Control("short-answer 0 off");
    EXPECT_EQ(card.Send(infoRequest).bytes.size(), fullLength);

    rig.Control("clock-skew 0 1000");
    Answer skewed = card.Send(RequestApdu(76, kCmdGetClock));
    const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
    EXPECT_GE(skewed.DataU32(0), now + 990);
    EXPECT_LE(skewed.DataU32(0), now + 1010);
    rig.Control("clear-faults 0");
    Answer plain = card.Send(RequestApdu(76, kCmdGetClock));
    EXPECT_LE(plain.DataU32(0), static_cast<uint32_t>(std::time(nullptr)) + 5);

    EXPECT_NE(rig.Control("dump 0").find("421201"), std::string::npos);
    EXPECT_THROW(rig.Control("busy 7 on"), std::runtime_error);
    EXPECT_THROW(rig.Control("no-such-command 0"), std::runtime_error);
}

TEST(KeyRigE2E, ScriptRefusesASecondRigAndAnUnreadableKeyState)
{
    KeyRig rig(std::vector<RigKey>{RigKey(421301)});
    std::string out, err;
    EXPECT_NE(KeyRig::RunScript({"start", rig.dir(), "--bin", QVK_KEYRIG_BIN_DIR}, &out, &err), 0);
    EXPECT_NE(err.find("already running"), std::string::npos) << err;
    EXPECT_TRUE(rig.WaitCard(0, true, 0)) << "the running rig must be left alone";

    // A state file that is not a key's must stay as it is: it may be the only
    // copy of someone's keys.
    rig.Stop();
    const std::string state = rig.dir() + "/key0.state";
    {
        std::ofstream(state, std::ios::binary | std::ios::trunc) << "not a key";
    }
    EXPECT_THROW(rig.Start(std::vector<RigKey>{RigKey(421301)}), std::runtime_error);
    std::ifstream in(state, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not a key");
}

}  // namespace
}  // namespace qvk::e2e
