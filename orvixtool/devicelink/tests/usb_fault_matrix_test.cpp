// Every USB operation of the pages under every fault the simulated device can play: the page ends
// in a stated state, nothing waits past the pipe time-outs, and nothing is reported as done that
// did not happen (no "Complete!" for a frame the device never got, no export file that is not
// the device's points, no "SUCCESS" in the update log for a database that is not in the device).
// Prints the table of outcomes at the end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "orvixtool/devicelink/upgrade_dlg.h"
#include "orvixtool/devicelink/usb_exchange.h"
#include "orvixtool/settingspage/user_point_export.h"
#include "orvixtool/settingspage/user_setting_dlg.h"
#include "orvixtool/shell/command_guard.h"
#include "orvixtool/testsupport/fake_dialog.h"
#include "orvixtool/testsupport/pages_harness.h"
#include "orvixtool/testsupport/simulated_usb_device.h"
#include "orvixtool/testsupport/test_env.h"
#include "orvixtool/testsupport/ui_queue.h"
#include "sim/shop/z31shop.h"
#include "sim/usb/z31usb.h"

using namespace devod;
using namespace devod::testing;

namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

enum class Fault { kRefusedPipe, kFailingReads, kShortReads, kStall, kUnplug };
enum class Operation { kConnect, kSettingsRead, kSettingsWrite, kExport, kDatabaseWrite };

constexpr Fault kFaults[] = {Fault::kRefusedPipe, Fault::kFailingReads, Fault::kShortReads,
                             Fault::kStall, Fault::kUnplug};
constexpr Operation kOperations[] = {Operation::kConnect, Operation::kSettingsRead,
                                     Operation::kSettingsWrite, Operation::kExport,
                                     Operation::kDatabaseWrite};

const char* Name(Fault fault) {
    switch (fault) {
        case Fault::kRefusedPipe: return "refused pipe";
        case Fault::kFailingReads: return "failing reads";
        case Fault::kShortReads: return "short reads";
        case Fault::kStall: return "stall";
        case Fault::kUnplug: return "unplug mid-op";
    }
    return "?";
}

const char* Name(Operation operation) {
    switch (operation) {
        case Operation::kConnect: return "connect";
        case Operation::kSettingsRead: return "settings read";
        case Operation::kSettingsWrite: return "settings write";
        case Operation::kExport: return "user point export";
        case Operation::kDatabaseWrite: return "database write";
    }
    return "?";
}

constexpr char kEmail[] = "owner@example.com";
constexpr char kPassword[] = "secret";
constexpr z31sim::SettingsRecordBytes kRecordAtStart = {0x00, 0x01, 0x00, 0x01, 0x89, 0x03};
constexpr z31sim::SettingsRecordBytes kRecordLater = {0x00, 0x01, 0x00, 0x00, 0x02, 0x01};
constexpr char kOldExport[] = "the export of last week";
constexpr int kPointCount = 60;  // both point transfers carry points

// Answers the owner's questions the same way in every cell: go on with the update and its
// write, never take the manual path, never restore. Records every box.
class PolicyPrompt : public ScriptedPrompt {
public:
    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override {
        boxes.push_back({text, caption, style});
        if ((style & 0xF) == kMbOk) return kIdOk;
        if (text.find("Upload now?") != std::string::npos) return kIdYes;
        if (text.find("Write the database anyway?") != std::string::npos) return kIdYes;
        return kIdNo;
    }
};

// One cell's world: the simulated device on its own socket, the shop, both pages.
struct Cell {
    Cell() {
        upgrade =
            std::make_unique<CUpgradeDlgHttp>(upgrade_controls, timers, prompt, prompt, connection);
        settings = std::make_unique<CUserSettingDlg>(settings_controls, prompt, connection);
        upgrade->OnInitDialog();
        settings->OnInitDialog();
        upgrade->SetMainWindow(&main);
        upgrade->SetUiPost([this](std::function<void()> call) { ui.Post(std::move(call)); });
        device->SetSettingsRecord(kRecordAtStart);
        device->SetUserSpeeds({30, 40, 50, 60, 70});
        std::vector<z31sim::UserPoint> points;
        for (int i = 1; i <= kPointCount; ++i) {
            points.push_back({static_cast<uint16_t>(i), i * 100000, -i * 100000});
        }
        device->SetUserPoints(points);
    }
    ~Cell() {
        upgrade.reset();
        ui.Drop();
    }

    // The start-up connect: the 500 ms timer, then the probe.
    void Connect() {
        upgrade->OnTimer(CUpgradeDlgHttp::kTimerStartup);
        upgrade->OnTimer(CUpgradeDlgHttp::kTimerProbe);
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : prompt.boxes) texts.push_back(box.text);
        return texts;
    }

    webtest::TempDir dir;
    webtest::ScopedCwd cwd{dir.path()};  // "tmpDB" lands here
    ScopedTestClock clock;
    UiQueue ui;
    SimulatedUsbDevice device{"usbmatrix"};
    z31sim::Shop shop;
    webtest::ScopedEnv host{"DEVOD_WEB_HOST", "127.0.0.1"};
    webtest::ScopedEnv port{"DEVOD_WEB_PORT", std::to_string(shop.Port())};
    FakeControls upgrade_controls;
    FakeControls settings_controls;
    FakeTimers timers;
    PolicyPrompt prompt;
    FakeMainWindow main;
    ConnectionModel connection;
    std::unique_ptr<CUpgradeDlgHttp> upgrade;
    std::unique_ptr<CUserSettingDlg> settings;
};

class UsbFaultMatrix : public ::testing::Test {
protected:
    void SetUp() override { UsbExchange::SetReplyTimeoutMs(100); }
    void TearDown() override {
        UsbExchange::SetReplyTimeoutMs(UsbExchange::kDefaultReplyTimeoutMs);
    }

    // Short pipe time-outs: a silent device fails a read in 100 ms, a stalled write in 1 ms (so
    // that the 3002 attempts of a block take a few seconds).
    webtest::ScopedEnv read_timeout_{"Z31_USB_READ_TIMEOUT_MS", "100"};
    webtest::ScopedEnv write_timeout_{"Z31_USB_WRITE_TIMEOUT_MS", "1"};
    webtest::ConfigHome home_;
};

// Sets the fault up. The unplug is played by `Pull` once the operation is under way.
void Arm(Cell& cell, Fault fault) {
    auto& device = cell.device;
    switch (fault) {
        case Fault::kRefusedPipe:
            device->SetPipeRefused(z31sim::Pipe::kOut, true);
            device->SetPipeRefused(z31sim::Pipe::kIn, true);
            break;
        case Fault::kFailingReads: device->SetReadFault(z31sim::ReadFault::kClosePipe); break;
        case Fault::kShortReads: device->SetShortReplies(4); break;
        case Fault::kStall:
            device->SetReadFault(z31sim::ReadFault::kNoReply);
            device->StallWrites(std::chrono::minutes(10));
            break;
        case Fault::kUnplug:
            // The request reaches the device, its answer never comes before the cable goes.
            device->SetReadFault(z31sim::ReadFault::kNoReply);
            break;
    }
}

void Pull(Cell& cell) {
    cell.device->SetWritesUnplugged(true);
    cell.device->SetAttached(false);
}

// Pulls the cable once the device has received `frames` settings frames, from a thread of its
// own while the page waits for the answer.
class PullAfterFrames {
public:
    PullAfterFrames(Cell& cell, size_t frames)
        : thread_([&cell, frames] {
              if (cell.device->WaitForFrames(frames, std::chrono::seconds(20))) Pull(cell);
          }) {}
    ~PullAfterFrames() { thread_.join(); }

private:
    std::thread thread_;
};

std::string Join(const std::vector<std::string>& texts) {
    std::string joined;
    for (const auto& text : texts) {
        if (!joined.empty()) joined += " / ";
        joined += "\"" + text.substr(0, text.find('\n')) + "\"";
    }
    return joined.empty() ? "no box" : joined;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs one operation under one fault and checks what it claims; returns the cell's text.
std::string RunCell(Operation operation, Fault fault) {
    SCOPED_TRACE(std::string(Name(operation)) + " / " + Name(fault));
    Cell cell;
    std::string outcome;
    const auto start = SteadyClock::now();

    if (operation == Operation::kConnect) {
        Arm(cell, fault);
        std::unique_ptr<PullAfterFrames> pull;
        if (fault == Fault::kUnplug) pull = std::make_unique<PullAfterFrames>(cell, 1);
        cell.Connect();
        pull.reset();
        const auto boxes = cell.BoxTexts();
        const bool success = std::find_if(cell.prompt.boxes.begin(), cell.prompt.boxes.end(),
                                          [](const auto& b) { return b.caption == "SUCCESS"; }) !=
                             cell.prompt.boxes.end();
        // "SUCCESS" only for a connection that stands; the settings shown are the device's or
        // the page's own, never made up.
        if (success) {
            EXPECT_EQ(cell.main.status, "Connected");
            EXPECT_EQ(cell.connection.Kind(), kUsbConnection);
        } else {
            EXPECT_EQ(cell.main.status, "Disconnect");
            EXPECT_EQ(cell.connection.Kind(), kNoConnection);
            EXPECT_TRUE(cell.upgrade_controls.IsEnabled(CUpgradeDlgHttp::kIdConnect));
        }
        const auto shown = cell.settings->SettingsBlock();
        const bool read = shown == kRecordAtStart;
        EXPECT_TRUE(read || shown == (std::array<uint8_t, 6>{}));
        outcome = cell.main.status + (read ? ", settings read" : ", settings not read") + ", " +
                  Join(boxes);
        if (fault != Fault::kShortReads && fault != Fault::kFailingReads &&
            fault != Fault::kStall) {
            EXPECT_FALSE(success) << outcome;
        }
        EXPECT_FALSE(read) << outcome;  // every fault keeps the settings from being read
    } else {
        cell.Connect();
        EXPECT_EQ(cell.main.status, "Connected");
        cell.prompt.boxes.clear();
        cell.device->ClearReceived();
        cell.device->SetSettingsRecord(kRecordLater);
        Arm(cell, fault);
        const auto before = cell.settings->SettingsBlock();

        if (operation == Operation::kSettingsRead) {
            std::unique_ptr<PullAfterFrames> pull;
            if (fault == Fault::kUnplug) pull = std::make_unique<PullAfterFrames>(cell, 1);
            cell.settings->OnCommand(CUserSettingDlg::kIdModeRead);
            pull.reset();
            const auto shown = cell.settings->SettingsBlock();
            // A faulty read changes nothing on the page.
            EXPECT_EQ(shown, before);
            EXPECT_TRUE(cell.prompt.boxes.empty());
            outcome = cell.main.status + ", fields kept, " + Join(cell.BoxTexts());
        } else if (operation == Operation::kSettingsWrite) {
            if (fault == Fault::kUnplug) Pull(cell);  // one frame: the cable goes before it
            cell.settings_controls.SetCheck(CUserSettingDlg::kIdMph, true);
            cell.settings_controls.SetCheck(CUserSettingDlg::kIdKmh, false);
            cell.settings->OnCommand(CUserSettingDlg::kIdUnitWrite);
            const bool saved = !cell.prompt.boxes.empty() &&
                               cell.prompt.boxes.back().text == "Save User Setting : Complete!";
            // A stalled device takes what its pipe holds once it reads again: a frame reported
            // saved must then be there, one reported lost must not.
            cell.device->StallWrites(std::chrono::milliseconds(0));
            const bool arrived = cell.device->WaitForFrames(1, std::chrono::seconds(saved ? 5 : 0));
            EXPECT_EQ(saved, arrived);
            if (saved) {
                EXPECT_EQ(cell.device->SettingsRecord()[1], 0);  // mph
            }
            outcome = cell.main.status + ", " + Join(cell.BoxTexts()) +
                      (arrived ? ", device has it" : ", device unchanged");
            if (fault == Fault::kRefusedPipe || fault == Fault::kUnplug) {
                EXPECT_FALSE(saved);
                EXPECT_EQ(cell.main.status, "Disconnect");
            }
        } else if (operation == Operation::kExport) {
            const std::string path = cell.dir.path() + "/points.xls";
            std::ofstream(path) << kOldExport;
            cell.prompt.AnswerFile(path);
            std::unique_ptr<PullAfterFrames> pull;
            if (fault == Fault::kUnplug) pull = std::make_unique<PullAfterFrames>(cell, 1);
            cell.settings->OnCommand(CUserSettingDlg::kIdExport);
            pull.reset();
            const bool completed = !cell.prompt.boxes.empty() &&
                                   cell.prompt.boxes.back().text == " Save User DB : Completed!";
            const std::string file = ReadAll(path);
            std::vector<usersettings::UserPoint> points;
            for (const auto& p : cell.device->UserPoints()) {
                points.push_back({p.direction, p.latitude, p.longitude});
            }
            const std::string whole = usersettings::FormatUserPoints(points);
            if (completed) {
                EXPECT_EQ(file, whole) << "an export reported complete holds other points";
            } else {
                EXPECT_EQ(file, kOldExport) << "a failed export touched the file";
            }
            EXPECT_FALSE(completed);  // no fault lets the points through whole
            outcome = cell.main.status + ", " + Join(cell.BoxTexts()) + ", " +
                      (file == kOldExport ? "old file kept"
                       : file == whole    ? "file whole"
                                          : "FILE PARTIAL");
        } else {
            const z31sim::ShopDatabase db = cell.shop.Config().databases[0];  // 73 blocks
            const std::string href = cell.shop.DatabaseHref(db);
            cell.prompt.AnswerLogin(LoginInput{kEmail, kPassword});
            cell.prompt.choose_database = [href](const LinkList& links) {
                for (const LinkEntry& link : links) {
                    if (link.href == href) return std::optional<std::string>(link.text);
                }
                return std::optional<std::string>();
            };
            if (fault == Fault::kUnplug) cell.clock.clock.real_pauses = true;
            RunCommand(cell.prompt, [&] { cell.upgrade->OnUpdateDatabase(); });
            if (fault == Fault::kUnplug && cell.upgrade->WriteRunning()) {
                EXPECT_TRUE(
                    cell.ui.RunUntil([&] { return cell.upgrade->Writer().BytesSent() > 0; }));
                Pull(cell);
                cell.clock.clock.real_pauses = false;
            }
            // A stalled device is given every attempt of its block (3002 pipe time-outs).
            bool ended = false;
            for (int i = 0; i < 3 && !ended; ++i) {
                ended = cell.ui.RunUntil([&] { return !cell.upgrade->WriteRunning(); });
            }
            EXPECT_TRUE(ended);
            for (unsigned timer :
                 {CUpgradeDlgHttp::kTimerWriteDone + 0u, CUpgradeDlgHttp::kTimerWriteFailed + 0u}) {
                if (cell.timers.IsRunning(timer)) cell.upgrade->OnTimer(timer);
            }
            const bool completed =
                std::find_if(cell.prompt.boxes.begin(), cell.prompt.boxes.end(), [](const auto& b) {
                    return b.text == "DB Upgrade : Completed!";
                }) != cell.prompt.boxes.end();
            cell.device->StallWrites(std::chrono::milliseconds(0));
            const std::string file = cell.shop.DatabaseBytes(db.file);
            std::string expected = file.substr(0, 20) + file.substr(1024);
            const z31sim::Bytes stream = cell.device->ReceivedStream();
            const bool whole = std::string(stream.begin(), stream.end()) == expected;
            std::vector<std::string> results;
            for (const auto& record : cell.shop.LogRecords()) results.push_back(record.result);
            EXPECT_EQ(completed, whole);
            EXPECT_EQ(results,
                      std::vector<std::string>{whole ? "SUCCESS" : "FAILED TO WRITE DEVICE"});
            // Only the questions asked on the way; the last box is the outcome.
            std::vector<std::string> told;
            for (const auto& box : cell.prompt.boxes) {
                if ((box.style & 0xF) == kMbOk && box.caption != "Backup") told.push_back(box.text);
            }
            outcome = cell.main.status + ", " + Join(told) + ", log " +
                      (results.empty() ? "none" : results.back());
            if (fault == Fault::kRefusedPipe || fault == Fault::kStall || fault == Fault::kUnplug) {
                EXPECT_FALSE(completed) << outcome;
                EXPECT_EQ(cell.main.status, "Disconnect");
            }
        }
    }
    // Generous: the pipe time-outs are a few hundred milliseconds at most, the stalled write's
    // 3002 attempts of 1 ms each some seconds (more under the sanitizers).
    EXPECT_LT(SteadyClock::now() - start, std::chrono::seconds(50)) << outcome;
    EXPECT_TRUE(cell.prompt.unexpected.empty());
    return outcome;
}

void PrintTable(const char* title, const std::vector<std::string>& rows,
                const std::vector<std::string>& columns,
                const std::map<std::pair<size_t, size_t>, std::string>& cells) {
    std::printf("\n%s\n", title);
    for (size_t r = 0; r < rows.size(); ++r) {
        std::printf("\n%s\n", rows[r].c_str());
        for (size_t c = 0; c < columns.size(); ++c) {
            std::printf("  %-16s %s\n", columns[c].c_str(), cells.at({r, c}).c_str());
        }
    }
    std::fflush(stdout);
}

}  // namespace

TEST_F(UsbFaultMatrix, EveryOperationUnderEveryFaultEndsInAStatedStateAndClaimsNothingFalse) {
    std::vector<std::string> rows, columns;
    for (Operation operation : kOperations) rows.push_back(Name(operation));
    for (Fault fault : kFaults) columns.push_back(Name(fault));
    std::map<std::pair<size_t, size_t>, std::string> cells;
    for (size_t r = 0; r < std::size(kOperations); ++r) {
        for (size_t c = 0; c < std::size(kFaults); ++c) {
            cells[{r, c}] = RunCell(kOperations[r], kFaults[c]);
        }
    }
    PrintTable("USB fault matrix (operation, then its outcome under each fault)", rows, columns,
               cells);
}
