// The backup taken before a database write over USB: what it keeps, the file it is kept in, the
// owner's choice when it fails, and the comparison after the write with its offer to restore.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "orvixtool/devicelink/upgrade_dlg.h"
#include "orvixtool/settingspage/device_backup.h"
#include "orvixtool/testsupport/pages_harness.h"
#include "orvixtool/testsupport/simulated_usb_device.h"
#include "orvixtool/testsupport/test_env.h"
#include "orvixtool/testsupport/ui_queue.h"
#include "sim/usb/z31usb.h"

using namespace devod;
using namespace devod::testing;
using namespace devod::usersettings;

namespace {

const z31sim::SettingsRecordBytes kRecord = {0x00, 0x01, 0x00, 0x01, 0x89, 0x03};
const z31sim::UserSpeedBytes kSpeeds = {50, 60, 70, 80, 90};
const std::vector<z31sim::UserPoint> kPoints = {{65535, -3513820, 14912345},
                                                {90, 5123456, 18000000}};

class BackupTest : public ::testing::Test {
protected:
    void SetUp() override {
        device_->SetSettingsRecord(kRecord);
        device_->SetUserSpeeds(kSpeeds);
        device_->SetUserPoints(kPoints);
        page_->SetUiPost([this](std::function<void()> call) { ui_.Post(std::move(call)); });
        pages_.Initialise();
        pages_.connection.SetKind(kUsbConnection);
        page_->EnterState(CUpgradeDlgHttp::State::Connected);
    }
    void TearDown() override {
        page_.reset();
        ui_.Drop();
        EXPECT_TRUE(prompt_.unexpected.empty()) << prompt_.unexpected.front();
    }
    // The device acts on a frame some time after its pipe took it: waits (up to ten seconds) until
    // it holds these settings, so that the checks after it see what was written.
    void WaitUntilDeviceHolds(const z31sim::SettingsRecordBytes& record,
                              const z31sim::UserSpeedBytes& speeds) const {
        for (int i = 0; i < 1000; ++i) {
            if (device_->SettingsRecord() == record && device_->UserSpeeds() == speeds) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    std::vector<std::filesystem::path> Backups() const {
        std::vector<std::filesystem::path> files;
        std::error_code ec;
        for (const auto& e :
             std::filesystem::directory_iterator(data_.path() + "/DevodTool/backups", ec)) {
            files.push_back(e.path());
        }
        return files;
    }
    // A database written to its end, with the completion box shown (and what follows it).
    void WriteDatabase() {
        std::string path = work_.path() + "/db.hdr";
        std::string bytes(5000, 'x');
        bytes[0] = '$';
        std::ofstream(path, std::ios::binary) << bytes;
        page_->SetDatabasePath(path);
        ASSERT_TRUE(page_->StartUsbWrite());
        ASSERT_TRUE(ui_.RunUntil([&] { return pages_.main.status != "Updating DB"; }));
        page_->OnTimer(CUpgradeDlgHttp::kTimerWriteDone);
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& b : prompt_.boxes) texts.push_back(b.text);
        return texts;
    }

    webtest::TempDir data_;
    webtest::ScopedEnv data_home_{"XDG_DATA_HOME", data_.path()};
    webtest::TempDir work_;
    ScopedTestClock clock_;
    UiQueue ui_;
    SimulatedUsbDevice device_{"backup"};
    PagesHarness pages_;
    ScriptedPrompt& prompt_ = pages_.prompt;
    std::unique_ptr<CUpgradeDlgHttp>& page_ = pages_.upgrade;
};

TEST_F(BackupTest, TheDeviceIsBackedUpIntoATimestampedFileBeforeTheWrite) {
    ASSERT_TRUE(page_->BackUpBeforeWrite());
    const auto files = Backups();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(page_->LastBackupPath(), files[0].string());
    EXPECT_EQ(files[0].filename().string().rfind("backup-", 0), 0u);
    EXPECT_EQ(files[0].extension(), ".gpx");
    // Settings record, user speeds and user points were asked for, and nothing else was sent.
    EXPECT_EQ(
        device_->ReceivedFrames(),
        (std::vector<z31sim::Bytes>{{0x23, 0x01, 0x01}, {0x23, 0x03, 0x01}, {0x23, 0x02, 0x01}}));
    EXPECT_TRUE(device_->ReceivedStream().empty());
    std::string error;
    const auto kept = LoadBackup(files[0].string(), &error);
    ASSERT_TRUE(kept) << error;
    EXPECT_EQ(std::vector<uint8_t>(kept->settings.begin(), kept->settings.end()),
              std::vector<uint8_t>(kRecord.begin(), kRecord.end()));
    EXPECT_EQ(std::vector<uint8_t>(kept->speeds.begin(), kept->speeds.end()),
              std::vector<uint8_t>(kSpeeds.begin(), kSpeeds.end()));
    ASSERT_EQ(kept->points.size(), 2u);
    EXPECT_EQ(kept->points[1], (UserPoint{90, 5123456, 18000000}));  // beyond GPX, kept raw
    // A second backup in the same second gets a name of its own.
    ASSERT_TRUE(page_->BackUpBeforeWrite());
    EXPECT_EQ(Backups().size(), 2u);

    // A write that leaves the device as it was: no question after it.
    prompt_.boxes.clear();
    WriteDatabase();
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"DB Upgrade : Completed!"});
}

TEST_F(BackupTest, AWriteThatChangedTheDeviceOffersTheBackupBack) {
    ASSERT_TRUE(page_->BackUpBeforeWrite());
    // What a database write may do to the device's own data.
    device_->SetSettingsRecord({0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    device_->SetUserSpeeds({0, 0, 0, 0, 0});
    device_->SetUserPoints({});
    prompt_.AnswerBox(kIdOk);   // "DB Upgrade : Completed!"
    prompt_.AnswerBox(kIdYes);  // restore the settings
    WriteDatabase();
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                              "DB Upgrade : Completed!", CUpgradeDlgHttp::kRestoreQuestion,
                              CUpgradeDlgHttp::kRestoredText,
                              CUpgradeDlgHttp::kPointsDifferText + page_->LastBackupPath()}));
    WaitUntilDeviceHolds(kRecord, kSpeeds);
    EXPECT_EQ(device_->SettingsRecord(),
              (z31sim::SettingsRecordBytes{0x00, 0x01, 0x00, 0x01, 0x89, 0x03}));
    EXPECT_EQ(device_->UserSpeeds(), kSpeeds);
}

TEST_F(BackupTest, AFailedBackupStopsTheWriteUnlessTheOwnerGoesOn) {
    device_->SetReadFault(z31sim::ReadFault::kClosePipe);
    prompt_.AnswerBox(kIdNo);
    EXPECT_FALSE(page_->BackUpBeforeWrite());
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text.rfind(CUpgradeDlgHttp::kBackupFailedText, 0), 0u);
    EXPECT_EQ(prompt_.boxes[0].caption, "Backup");
    EXPECT_TRUE(Backups().empty());
    EXPECT_TRUE(page_->LastBackupPath().empty());

    prompt_.AnswerBox(kIdYes);
    EXPECT_TRUE(page_->BackUpBeforeWrite());
    EXPECT_TRUE(Backups().empty());
}

TEST_F(BackupTest, AnEarlierBackupIsRestoredByHand) {
    ASSERT_TRUE(page_->BackUpBeforeWrite());
    const std::string path = page_->LastBackupPath();
    device_->SetSettingsRecord({0x00, 0x00, 0x00, 0x00, 0x00, 0x05});
    device_->SetUserSpeeds({1, 2, 3, 4, 5});
    prompt_.AnswerFile(path);
    prompt_.AnswerBox(kIdYes);
    page_->RestoreBackupByHand();
    ASSERT_EQ(prompt_.file_requests.size(), 1u);
    EXPECT_EQ(prompt_.file_requests[0].initial_folder, data_.path() + "/DevodTool/backups");
    EXPECT_EQ(prompt_.boxes.back().text, CUpgradeDlgHttp::kRestoredText);
    WaitUntilDeviceHolds(kRecord, kSpeeds);
    EXPECT_EQ(device_->SettingsRecord(), kRecord);
    EXPECT_EQ(device_->UserSpeeds(), kSpeeds);

    // A file that is not a backup changes nothing.
    const std::string other = work_.path() + "/other.gpx";
    std::ofstream(other) << "<gpx version=\"1.1\" creator=\"x\"/>";
    device_->SetUserSpeeds({1, 2, 3, 4, 5});
    prompt_.AnswerFile(other);
    page_->RestoreBackupByHand();
    EXPECT_NE(prompt_.boxes.back().text.find("no DevodTool backup"), std::string::npos);
    EXPECT_EQ(device_->UserSpeeds(), (z31sim::UserSpeedBytes{1, 2, 3, 4, 5}));
}

TEST(BackupFileTest, DamagedFilesAreRefused) {
    UsbDeviceData data;
    data.settings = {1, 2, 3, 4, 5, 6};
    data.speeds = {10, 20, 30, 40, 255};
    data.points = {{1, 2, 3}, {65535, -9000000, -18000000}};
    const std::string good = FormatBackup(data, "2026-12-10T02:20:00Z");
    std::string error;
    const auto back = ParseBackup(good, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back, data);
    auto with = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        const auto at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) s.replace(at, from.size(), to);
        return s;
    };
    for (const std::string& bad :
         {std::string("not xml <"), with("link=\"usb\"", "link=\"serial\""),
          with("settings=\"010203040506\"", "settings=\"0102030405\""),
          with("settings=\"010203040506\"", "settings=\"01020304050G\""),
          with("speeds=\"10,20,30,40,255\"", "speeds=\"10,20,30,40,256\""),
          with("speeds=\"10,20,30,40,255\"", "speeds=\"10,20,30,40\""),
          with("direction=\"1\"", "direction=\"x\""), with("lat=\"0.00002\"", "lat=\"north\"")}) {
        EXPECT_FALSE(ParseBackup(bad, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
