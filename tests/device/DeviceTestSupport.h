// Fixture of the device-layer unit tests: a fresh set of named objects and a
// fresh PC/SC double per test, short retry budgets.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "PcscTap.h"
#include "device/DeviceInternal.h"
#include "device/DeviceProtocol.h"
#include "keyemu/PcscDouble.h"

namespace devtest {

namespace pd = keyemu::pcscdouble;

struct ContextCloser {
    void operator()(DeviceContext* c) const { CloseDevice(c); }
};
using Context = std::unique_ptr<DeviceContext, ContextCloser>;

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int counter = 0;
        const std::string prefix = "qvkdevut" + std::to_string(getpid()) + "n" + std::to_string(++counter) + "_";
        setenv("WEMU_NAME_PREFIX", prefix.c_str(), 1);
        unsetenv("WEMU_REFUSE_GLOBAL");
        pd::ResetAll();
        pcsctap::Reset();
        qvkdev::DeviceTimings() = qvkdev::Timings{};
        qvkdev::DeviceTimings().retryBudgetMs = 300;
    }
    void TearDown() override
    {
        CloseSharedMemory();
        pd::ResetAll();
        unsetenv("WEMU_NAME_PREFIX");
        unsetenv("WEMU_REFUSE_GLOBAL");
    }

    std::string AddKey(uint32_t serial, uint8_t version = 18, uint32_t capability = 0x200,
                       const std::string& password = "1234")
    {
        keyemu::KeyConfig config;
        config.serial = serial;
        config.version = version;
        config.capability = capability;
        config.password = password;
        return pd::AddKey(config);
    }

    static Context Open(uint32_t id) { return Context(OpenDevice(id)); }
    // Opened and logged in (by default with AddKey's password); empty when
    // either fails.
    static Context OpenLoggedIn(uint32_t serial, const char* password = "1234")
    {
        Context c = Open(serial);
        if (c && AuthenticateDevice(c.get(), password) != 0) c.reset();
        return c;
    }

    // (command, parameter) of every request since the tap was reset.
    static std::vector<std::pair<int, int>> Requests()
    {
        std::vector<std::pair<int, int>> out;
        for (const auto& a : pcsctap::Apdus())
            if (a.size() > 7) out.emplace_back(a[5], a[7]);
        return out;
    }
    // The parameters of one command's requests, in order.
    static std::vector<int> Parameters(int command)
    {
        std::vector<int> out;
        for (const auto& [c, p] : Requests())
            if (c == command) out.push_back(p);
        return out;
    }

    // Command codes the key saw since the log was cleared.
    static std::vector<int> KeyCommands(const std::string& reader)
    {
        std::vector<int> out;
        for (const std::string& line : pd::CommandLog(reader)) {
            int cmd = -1;
            if (std::sscanf(line.c_str(), "cmd=%d", &cmd) == 1) out.push_back(cmd);
        }
        return out;
    }
    // The same without the reads and writes of the storage change mark (the
    // key's auxiliary data), which every hold of the key's memory makes.
    static std::vector<int> KeyCommandsBesideTheMark(const std::string& reader)
    {
        std::vector<int> out;
        for (int cmd : KeyCommands(reader))
            if (cmd != KEYCMD_READ_AUX && cmd != KEYCMD_WRITE_AUX) out.push_back(cmd);
        return out;
    }
    static int Count(const std::vector<int>& commands, int command)
    {
        int n = 0;
        for (int c : commands) n += c == command;
        return n;
    }
    static DeviceCacheRecord* Record(uint32_t serial) { return qvkdev::FindDeviceRecord(serial); }
};

}  // namespace devtest
