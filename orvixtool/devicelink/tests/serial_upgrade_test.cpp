// A whole database update of a device on a serial port: the page logic with the real QVLib,
// against the simulated device on a pseudo-terminal and the shop stand-in. The page's timers are
// fired by hand, faster than the window would, while the library works in real time.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "orvixtool/config/settings.h"
#include "orvixtool/testsupport/pages_harness.h"
#include "orvixtool/testsupport/test_env.h"
#include "qvlib/session/qvlib.h"
#include "qvlib/util/testsupport/process_usage.h"
#include "sim/shop/z31shop.h"
#include "sim/z31sim.h"

using namespace devod;
using namespace devod::testing;
using namespace std::chrono_literals;

namespace {

constexpr int kPort = 9;

// A small file for the updates that run to their end, a large one for a write that is cut.
z31sim::ShopConfig ShopWithSerialDatabases() {
    z31sim::ShopConfig cfg;
    cfg.serial_databases = {{"Z31 Serial small", "small", 12000, 21},
                            {"Z31 Serial large", "large", 120000, 22}};
    return cfg;
}

class SerialUpgradeTest : public ::testing::Test {
protected:
    SerialUpgradeTest() {
        z31sim::DeviceConfig cfg;
        cfg.port_number = kPort;
        cfg.nmea_baud = 115200;
        cfg.command_baud = 115200;
        cfg.start_mode = z31sim::Mode::Normal;
        cfg.nmea_period_ms = 100;
        cfg.device_id = "Z40P012";
        cfg.db_version = "2026.11.1";
        device_ = std::make_unique<z31sim::Device>(ports_.path(), cfg);
        device_->SetPacedReception(false);
        Settings().SetSerialModel("Z40PRO");
        pages_.Initialise();
    }
    ~SerialUpgradeTest() override {
        for (const auto& u : pages_.prompt.unexpected) ADD_FAILURE() << "unexpected " << u;
    }

    // Fires the running timers among `ids` every few milliseconds until none runs or `limit`.
    bool RunTimers(std::initializer_list<unsigned> ids, std::chrono::milliseconds limit = 30s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            bool any = false;
            for (unsigned id : ids) {
                if (pages_.timers.IsRunning(id)) {
                    pages_.upgrade->OnTimer(id);
                    any = true;
                }
            }
            if (!any) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
    void Connect() {
        pages_.upgrade->OnTimer(CUpgradeDlgHttp::kTimerStartup);
        pages_.upgrade->OnTimer(CUpgradeDlgHttp::kTimerProbe);
        ASSERT_TRUE(
            RunTimers({CUpgradeDlgHttp::kTimerSerialSearch, CUpgradeDlgHttp::kTimerSerialInfo}));
        ASSERT_EQ(pages_.connection.Kind(), kSerialConnection);
        pages_.prompt.boxes.clear();
    }
    // The update button: log in, choose `db` from the serial catalogue, confirm the upload.
    void StartUpdate(const z31sim::ShopDatabase& db) {
        const std::string href = shop_.DatabaseHref(db, /*serial=*/true);
        pages_.prompt.choose_database =
            [href](const LinkList& links) -> std::optional<std::string> {
            for (const LinkEntry& link : links) {
                if (link.href == href) return link.text;
            }
            return std::string("(not offered)");
        };
        pages_.prompt.AnswerLogin(LoginInput{"owner@example.com", "secret"});
        pages_.prompt.AnswerBox(kIdYes);  // "Upload now?"
        pages_.upgrade->OnCommand(CUpgradeDlgHttp::kIdUpdateDatabase);
    }

    webtest::ConfigHome home_;
    webtest::TempDir data_;
    webtest::ScopedEnv data_home_{"XDG_DATA_HOME", data_.path()};
    webtest::TempDir work_;
    webtest::ScopedCwd cwd_{work_.path()};  // "tmpDB" lands here
    z31sim::Shop shop_{ShopWithSerialDatabases()};
    webtest::ScopedEnv web_host_{"DEVOD_WEB_HOST", "127.0.0.1"};
    webtest::ScopedEnv web_port_{"DEVOD_WEB_PORT", std::to_string(shop_.Port())};
    z31sim::PortDir ports_;
    webtest::ScopedEnv port_dir_{"QVLIB_PORT_DIR", ports_.path()};
    std::unique_ptr<z31sim::Device> device_;
    QvLibLink qv_;
    PagesHarness pages_{&qv_};
};

TEST_F(SerialUpgradeTest, FromTheButtonToCompletedWithTheDatabaseReceivedByteForByte) {
    Connect();
    EXPECT_EQ(pages_.main.label, "COM9");
    EXPECT_NE(pages_.main.status.find("DB 2026.11.1"), std::string::npos) << pages_.main.status;

    const z31sim::ShopDatabase& db = shop_.Config().serial_databases.front();
    StartUpdate(db);
    // The serial catalogue was read, and the owner chose from its ".mob" files.
    bool serial_catalogue = false;
    for (const auto& request : shop_.Requests()) {
        serial_catalogue |= request.target == z31sim::kSerialCataloguePath;
    }
    EXPECT_TRUE(serial_catalogue);
    // The backup is on disk before the first block of the database goes out.
    ASSERT_TRUE(RunTimers({CUpgradeDlgHttp::kTimerSerialBackup}));
    ASSERT_EQ(pages_.connection.State(), ConnectionState::Updating);
    ASSERT_FALSE(pages_.upgrade->LastBackupPath().empty());
    EXPECT_TRUE(std::filesystem::exists(pages_.upgrade->LastBackupPath()));
    EXPECT_TRUE(device_->ReceivedImage(z31sim::Area::Database).empty());
    ASSERT_TRUE(RunTimers({CUpgradeDlgHttp::kTimerSerialBackup, CUpgradeDlgHttp::kTimerSerialWrite,
                           CUpgradeDlgHttp::kTimerSerialInfo},
                          60s));
    ASSERT_FALSE(pages_.prompt.boxes.empty());
    EXPECT_EQ(pages_.prompt.boxes.back().text, "DB Upgrade : Completed!");
    EXPECT_EQ(pages_.prompt.boxes.back().caption, "COMPLETE");
    EXPECT_EQ(pages_.connection.State(), ConnectionState::Connected);
    EXPECT_EQ(device_->ReceivedImage(z31sim::Area::Database),
              shop_.DatabaseBytes(db.file, /*serial=*/true));
    // The update log heard of the written file.
    ASSERT_FALSE(shop_.LogRecords().empty());
    EXPECT_EQ(shop_.LogRecords().back().result, "SUCCESS");
}

TEST_F(SerialUpgradeTest, AFailingEraseEndsInTheRetryMessage) {
    Connect();
    device_->SetEraseAnswers(false);
    StartUpdate(shop_.Config().serial_databases.front());
    ASSERT_TRUE(
        RunTimers({CUpgradeDlgHttp::kTimerSerialBackup, CUpgradeDlgHttp::kTimerSerialWrite}, 60s));
    ASSERT_FALSE(pages_.prompt.boxes.empty());
    EXPECT_EQ(pages_.prompt.boxes.back().text, "Error : DB write fail   \n\n  Retry to download!");
    EXPECT_EQ(pages_.connection.State(), ConnectionState::Disconnected);
    EXPECT_TRUE(device_->ReceivedImage(z31sim::Area::Database).empty());
    // The port is given back 50 ms later.
    ASSERT_TRUE(pages_.timers.IsRunning(CUpgradeDlgHttp::kTimerSerialClose));
    pages_.upgrade->OnTimer(CUpgradeDlgHttp::kTimerSerialClose);
    EXPECT_EQ(IsDeviceOpened(kPort), 0);
}

TEST_F(SerialUpgradeTest, AChecksumErrorVerdictEndsInTheRetryMessage) {
    Connect();
    device_->SetWriteVerdict(z31sim::WriteVerdict::CheckSumErr);
    StartUpdate(shop_.Config().serial_databases.front());
    ASSERT_TRUE(
        RunTimers({CUpgradeDlgHttp::kTimerSerialBackup, CUpgradeDlgHttp::kTimerSerialWrite}, 60s));
    ASSERT_FALSE(pages_.prompt.boxes.empty());
    EXPECT_EQ(pages_.prompt.boxes.back().text, "Error : DB write fail   \n\n  Retry to download!");
    EXPECT_EQ(pages_.prompt.boxes.back().caption, "ERROR");
    EXPECT_EQ(pages_.connection.State(), ConnectionState::Disconnected);
}

TEST_F(SerialUpgradeTest, ClosingThePageDuringTheWriteEndsItAndGivesThePortBack) {
    Connect();
    device_->SetPacedReception(true);  // some 11 s for the file at the line speed
    StartUpdate(shop_.Config().serial_databases.back());
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (device_->ReceivedImage(z31sim::Area::Database).size() < 8192 &&
           std::chrono::steady_clock::now() < until) {
        for (unsigned id :
             {CUpgradeDlgHttp::kTimerSerialBackup, CUpgradeDlgHttp::kTimerSerialWrite}) {
            if (pages_.timers.IsRunning(id)) pages_.upgrade->OnTimer(id);
        }
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(pages_.upgrade->WriteRunning());
    pages_.upgrade.reset();
    EXPECT_EQ(IsDeviceOpened(kPort), 0);
    EXPECT_LT(device_->ReceivedImage(z31sim::Area::Database).size(),
              shop_.Config().serial_databases.back().size);
}

}  // namespace

// Update after update on one serial connection, the two databases in turn: the device receives
// every one byte for byte, every update ends completed with the device connected again, the
// update log holds exactly one SUCCESS record for each, and no descriptor or thread is left over.
// DEVOD_SOAK_SERIAL_UPDATES (default 2) sets the count; bench/soak.sh runs 200.
TEST_F(SerialUpgradeTest, UpdatesInARowEachArriveWholeAndEachIsLoggedOnce) {
    const int updates = util::testing::SizeFromEnv("DEVOD_SOAK_SERIAL_UPDATES", 2);
    const auto& databases = shop_.Config().serial_databases;
    Connect();
    util::testing::ProcessUsage warm;
    const auto began = std::chrono::steady_clock::now();
    std::size_t bytes = 0;
    for (int update = 0; update < updates; ++update) {
        const z31sim::ShopDatabase& db = databases[update % databases.size()];
        pages_.prompt.boxes.clear();
        StartUpdate(db);
        ASSERT_TRUE(
            RunTimers({CUpgradeDlgHttp::kTimerSerialBackup, CUpgradeDlgHttp::kTimerSerialWrite,
                       CUpgradeDlgHttp::kTimerSerialInfo},
                      60s))
            << "update " << update;
        ASSERT_FALSE(pages_.prompt.boxes.empty()) << "update " << update;
        ASSERT_EQ(pages_.prompt.boxes.back().text, "DB Upgrade : Completed!")
            << "update " << update;
        ASSERT_EQ(pages_.connection.State(), ConnectionState::Connected) << "update " << update;
        const std::string sent = shop_.DatabaseBytes(db.file, /*serial=*/true);
        ASSERT_EQ(device_->ReceivedImage(z31sim::Area::Database), sent) << "update " << update;
        ASSERT_EQ(shop_.LogRecords().size(), static_cast<std::size_t>(update) + 1);
        bytes += sent.size();
        if (update == 0) warm = util::testing::ProcessUsage::Now();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const util::testing::ProcessUsage end = util::testing::ProcessUsage::Now();

    const auto records = shop_.LogRecords();
    ASSERT_EQ(records.size(), static_cast<std::size_t>(updates));
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].result, "SUCCESS") << "record " << i;
    }
    std::printf("serial updates: %d in a row, %zu bytes received, %zu log records, %.1f s\n",
                updates, bytes, records.size(), seconds);
    std::printf("serial updates: after update 1 -> after update %d: %s\n", updates,
                util::testing::Describe(warm, end).c_str());
    EXPECT_EQ(end.fds, warm.fds);
    EXPECT_EQ(end.threads, warm.threads);
}
