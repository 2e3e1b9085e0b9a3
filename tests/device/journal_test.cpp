// The key's journal, the state query, the auxiliary data and the placeholders.
#include <cstring>

#include "DeviceTestSupport.h"
#include "StandardParameters.h"

namespace devtest {
namespace {

class JournalTest : public DeviceTest {
protected:
    static std::vector<JournalRecord> ReadAll(DeviceContext* c)
    {
        std::vector<JournalRecord> out;
        for (int i = 0; i < 255; ++i) {
            JournalRecord r;
            const uint32_t status = ReadJournalRecord(c, i, &r);
            if (status == KEYERR_JOURNAL_EXHAUSTED) break;
            EXPECT_EQ(status, 0u);
            if (status != 0) break;
            out.push_back(r);
        }
        return out;
    }
};

TEST_F(JournalTest, RecordsFollowPasswordChangeGenerationDestructionAndFormat)
{
    AddKey(701, 18, 0x200, "1234");
    Context c = Open(701);
    ASSERT_TRUE(c);
    ASSERT_EQ(AuthenticateDevice(c.get(), "1234"), 0u);
    const size_t before = ReadAll(c.get()).size();
    ASSERT_EQ(ChangeDevicePassword(c.get(), "5678"), 0u);
    const DeviceKeyParameters parameters = StandardParameters(0);
    ASSERT_EQ(GenerateSignatureKey(c.get(), parameters.bytes(), 0), 0u);
    ASSERT_EQ(GenerateAgreementKey(c.get(), parameters.bytes(), 0x20), 0u);
    uint8_t privateKey[72] = {7};
    ASSERT_EQ(ImportAgreementKey(c.get(), parameters.bytes(), privateKey, 0), 0u);
    ASSERT_EQ(DestroySignatureKey(c.get()), 0u);
    ASSERT_EQ(FormatDevice(c.get(), "new"), 0u);

    const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
    const auto records = ReadAll(c.get());
    ASSERT_EQ(records.size(), before + 6);
    struct Expected {
        uint8_t operation;
        uint16_t detail;
    };
    const Expected expected[] = {{1, 0}, {3, 1}, {3, 2}, {2, 2}, {4, 1}, {5, 1}};
    for (size_t i = 0; i < 6; ++i) {
        const JournalRecord& r = records[before + i];
        EXPECT_EQ(r.operation, expected[i].operation) << i;
        EXPECT_EQ(r.detail, expected[i].detail) << i;
        EXPECT_EQ(r.result, 0) << i;
        EXPECT_LE(r.event, now + 10) << "the key's clock, synchronised at open";
        EXPECT_GE(r.event + 60, now);
        EXPECT_NE(JournalOperationName(r.operation), nullptr);
    }
    // Past the last record: 37, and the output stays as it was.
    JournalRecord untouched;
    std::memset(&untouched, 0xAB, sizeof(untouched));
    EXPECT_EQ(ReadJournalRecord(c.get(), static_cast<int>(records.size()), &untouched), 37u);
    EXPECT_EQ(untouched.operation, 0xAB);
    EXPECT_EQ(untouched.event, 0xABABABABu);
}

TEST_F(JournalTest, VersionGates)
{
    AddKey(702, 8, 0);
    AddKey(703, 9, 0);
    AddKey(704, 10, 0);
    AddKey(705, 11, 0);
    Context v8 = Open(702), v9 = Open(703), v10 = Open(704), v11 = Open(705);
    ASSERT_TRUE(v8 && v9 && v10 && v11);
    EXPECT_EQ(HasJournal(v8.get()), 0);
    EXPECT_EQ(HasJournal(v9.get()), 1);
    JournalRecord r;
    uint8_t state[17];
    pcsctap::Reset();
    EXPECT_EQ(ReadJournalRecord(v8.get(), 0, &r), 99u);
    EXPECT_EQ(GetDeviceState(v10.get(), 0, state), 99u);
    for (auto* reserved : {ReservedDeviceOperation1, ReservedDeviceOperation2, ReservedDeviceOperation3,
                           ReservedDeviceOperation4, ReservedDeviceOperation5})
        EXPECT_EQ(reserved(v11.get()), 99u);
    EXPECT_TRUE(pcsctap::Apdus().empty());
    EXPECT_EQ(ReadJournalRecord(v9.get(), 0, &r), 37u) << "a fresh key's journal is empty";
    EXPECT_EQ(GetDeviceState(v11.get(), 0, nullptr), 0u);
    EXPECT_EQ(pcsctap::Commands(), (std::vector<int>{KEYCMD_READ_JOURNAL, KEYCMD_GET_STATE}));
}

TEST_F(JournalTest, StateQueryOnVersion11AndAbove)
{
    const std::string reader = AddKey(706, 11, 0, "1234");
    AddKey(707, 18, 0x200, "1234");
    for (uint32_t serial : {706u, 707u}) {
        SCOPED_TRACE(serial);
        Context c = Open(serial);
        ASSERT_TRUE(c);
        uint8_t state[17 + 4];
        std::memset(state, 0xEE, sizeof(state));
        pcsctap::Reset();
        ASSERT_EQ(GetDeviceState(c.get(), 0x5C, state), 0u);
        ASSERT_EQ(pcsctap::Apdus().size(), 1u);
        const auto apdu = pcsctap::Apdus().at(0);
        EXPECT_EQ(apdu[6], KEYPROT_NONE);
        EXPECT_EQ(apdu[7], 0);
        EXPECT_EQ(apdu[8], 0x5C) << "the selector in data byte 0";
        uint32_t serialInState;
        std::memcpy(&serialInState, state, 4);
        EXPECT_EQ(serialInState, serial) << "the key's 17 bytes, as they are";
        for (int i = 17; i < 21; ++i) EXPECT_EQ(state[i], 0xEE);
    }
    // An answer that does not verify counts only while logged in.
    Context c = Open(706);
    ASSERT_TRUE(c);
    pd::GetKey(reader)->faults().wrongProtection = true;
    EXPECT_EQ(GetDeviceState(c.get(), 0, nullptr), 0u);
    pd::GetKey(reader)->faults().wrongProtection = false;
    ASSERT_EQ(AuthenticateDevice(c.get(), "1234"), 0u);
    pd::GetKey(reader)->faults().wrongProtection = true;
    EXPECT_EQ(GetDeviceState(c.get(), 0, nullptr), 40u);
    pd::GetKey(reader)->faults().wrongProtection = false;
}

TEST_F(JournalTest, AuxiliaryDataWriteReadAndProbe)
{
    AddKey(708, 17, 0);
    AddKey(709, 18);
    for (uint32_t serial : {708u, 709u}) {
        SCOPED_TRACE(serial);
        Context c = Open(serial);
        ASSERT_TRUE(c);
        const uint32_t limit = serial == 708 ? 60 : 72;
        uint8_t data[80];
        for (int i = 0; i < 80; ++i) data[i] = static_cast<uint8_t>(0x40 + i);
        pcsctap::Reset();
        EXPECT_EQ(WriteAuxData(c.get(), data, limit + 1), 8u);
        EXPECT_TRUE(pcsctap::Apdus().empty());
        ASSERT_EQ(WriteAuxData(c.get(), data, limit), 0u);
        // The data fills the block from byte 4 on, the MAC field included.
        const auto apdu = pcsctap::Apdus().at(0);
        EXPECT_EQ(apdu[6], KEYPROT_NONE);
        EXPECT_EQ(std::memcmp(apdu.data() + 5 + 3, data, limit), 0);

        int length = 0;
        pcsctap::Reset();
        EXPECT_EQ(ReadAuxRecord(c.get(), 0, nullptr, &length), 0u);
        EXPECT_EQ(length, 16);
        EXPECT_TRUE(pcsctap::Apdus().empty()) << "a size query asks nothing";
        EXPECT_EQ(ReadAuxRecord(c.get(), 0, data, nullptr), 8u);
        uint8_t record[16];
        ASSERT_EQ(ReadAuxRecordA5(c.get(), record, &length), 0u);
        EXPECT_EQ(std::memcmp(record, data, 16), 0);
        EXPECT_EQ(pcsctap::Apdus().at(0)[8], 0xA5);

        // The probe leaves the data as it was.
        EXPECT_EQ(HasAuxData(c.get()), 1u);
        ASSERT_EQ(ReadAuxRecord(c.get(), 0, record, &length), 0u);
        EXPECT_EQ(std::memcmp(record, data, 16), 0) << "probed without writing";
        for (uint8_t status : {uint8_t(20), uint8_t(21), uint8_t(8)}) {
            pcsctap::ForceStatus(KEYCMD_READ_AUX, status, 1);
            EXPECT_EQ(HasAuxData(c.get()), status == 20 ? 0u : 1u) << int(status);
        }
    }
}

}  // namespace
}  // namespace devtest
