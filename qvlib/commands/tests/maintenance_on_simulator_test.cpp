// The mode check and switch, the erases, the serial number and QC commands end to end: the library on a pseudo-terminal with
// the simulated Z31 behind it, at the line speeds of its modes, in real time.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <thread>

#include "qvlib/session/qvlib.h"
#include "qvlib/session/tests/scripted_device.h"
#include "sim/z31sim.h"

namespace {

class MaintenanceOnSimulator : public ::testing::Test {
protected:
    static constexpr int kPort = 12;
    MaintenanceOnSimulator() {
        setenv("QVLIB_PORT_DIR", dir.path().c_str(), 1);
        config.port_number = kPort;
    }
    void TearDown() override { CloseDevice(kPort); }
    void Start(const char* model, z31sim::Mode mode) {
        config.start_mode = mode;
        device = std::make_unique<z31sim::Device>(dir.path(), config);
        ASSERT_EQ(OpenDevice(model, kPort), 1);
    }
    // Equal line speeds, as "Z40PRO" has: the session opens the port at the rate the device
    // answers at.
    void StartInDownloadMode() {
        config.nmea_baud = 115200;
        config.command_baud = 115200;
        Start("Z40PRO", z31sim::Mode::Download);
    }
    int Run(int (*request)(int)) {
        if (request(kPort) != 1) return -1;
        return Await();
    }
    int Await() {
        if (!WaitUntilDone(GetQueryState, kPort, 30000)) return -2;
        return GetQueryResult(kPort);
    }
    int SetSerial(const char* number) {
        if (ReqSetSerialNumber(kPort, number) != 1) return -1;
        return Await();
    }

    z31sim::PortDir dir;
    z31sim::DeviceConfig config;
    std::unique_ptr<z31sim::Device> device;
};

}  // namespace

TEST_F(MaintenanceOnSimulator, ModeCheckSwitchAndResetAtTwoLineSpeeds) {
    config.nmea_baud = 4800;
    config.command_baud = 115200;
    Start("Z31STD", z31sim::Mode::Normal);
    EXPECT_EQ(Run(ReqGetDeviceMode), 1);
    EXPECT_EQ(GetDeviceModeResult(kPort), 1);

    EXPECT_EQ(Run(ReqSetDeviceDNMode), 1);
    EXPECT_EQ(GetDeviceModeResult(kPort), 2);
    EXPECT_EQ(device->CurrentMode(), z31sim::Mode::Download);
    EXPECT_EQ(Run(ReqGetDeviceMode), 1);
    EXPECT_EQ(GetDeviceModeResult(kPort), 2);

    // "qq" goes out at the command speed just before the check reopens at the NMEA speed: it
    // must reach the device at the speed it was sent at and not be discarded by the reopen.
    EXPECT_EQ(Run(ReqResetDevice), 1);
    EXPECT_EQ(GetDeviceModeResult(kPort), 1);
    EXPECT_EQ(device->CurrentMode(), z31sim::Mode::Normal);
}

TEST_F(MaintenanceOnSimulator, SwitchAtOneLineSpeedIsNotFooledByBufferedSentences) {
    config.nmea_baud = 115200;
    config.command_baud = 115200;
    config.nmea_period_ms = 50;
    Start("Z40PRO", z31sim::Mode::Normal);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // sentences pile up unread
    EXPECT_EQ(Run(ReqSetDeviceDNMode), 1);
    EXPECT_EQ(GetDeviceModeResult(kPort), 2);
}

TEST_F(MaintenanceOnSimulator, ErasesReportCompletionOrItsAbsence) {
    StartInDownloadMode();
    EXPECT_EQ(Run(ReqEraseFW), 1);
    EXPECT_EQ(Run(ReqEraseBootloader), 1);
    device->SetEraseAnswers(false);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Run(ReqEraseDB), 2);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("dump: "), std::string::npos);
}

TEST_F(MaintenanceOnSimulator, SerialNumberMustBeErasedBeforeItIsWrittenAgain) {
    StartInDownloadMode();
    EXPECT_EQ(SetSerial("Z31B0000001"), 2);  // one is stored already
    EXPECT_EQ(Run(ReqEraseSerialNumber), 1);
    EXPECT_EQ(SetSerial("Z31B0000001"), 1);
    EXPECT_EQ(device->StoredSerialNumber(), "Z31B0000001");
}

TEST_F(MaintenanceOnSimulator, QcViewAndAShortQcResult) {
    StartInDownloadMode();
    EXPECT_EQ(Run(ReqViewQC), 1);
    std::string view = GetViewQC(kPort);
    EXPECT_EQ(view.rfind("$GPSRESULT", 0), 0u);
    EXPECT_EQ(view.substr(view.size() - 5), "END\r\n");

    device->SetQcShortReply(true);
    device->SetQcVerdict(z31sim::QcVerdict::Fail);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Run(ReqQCTestResult), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(GetQCTestResult(kPort), 1);
}
