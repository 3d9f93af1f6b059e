// A session on a scripted line in virtual time: the test scripts the device, runs one export to
// its end and reads what the host sent, at which rates, and how long it took on the test clock.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "qvlib/serial/testsupport/scripted_port.h"
#include "qvlib/session/qvlib.h"
#include "qvlib/util/testsupport/test_clock.h"

class ScriptedSessionTest : public ::testing::Test {
protected:
    static constexpr int kEqualRates = 115200;  // "Z40PRO": NMEA and commands at 115200
    static constexpr int kNmeaRate = 4800;      // "Z31STD": NMEA at 4800, commands at 115200
    static constexpr int kCommandRate = 115200;

    void TearDown() override { CloseDevice(device.port()); }
    void Open(const char* model) { ASSERT_EQ(OpenDevice(model, device.port()), 1); }
    // Runs the request to its end: its query result, -1 when it was refused, -2 when it did not end
    // within ten real seconds.
    int Run(int (*request)(int)) {
        if (request(device.port()) != 1) return -1;
        return Await();
    }
    int Await() {
        for (int waited = 0; waited < 10000; ++waited) {
            if (GetQueryState(device.port()) == 2) return GetQueryResult(device.port());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return -2;
    }
    uint64_t Now() const { return clock.clock.PeekMs(); }

    util::testing::ScopedTestClock clock{0};
    ScriptedPort device{61};
};
