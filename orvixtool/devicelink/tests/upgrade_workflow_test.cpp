// The database update from the button to a confirmed file, against the local shop stand-in:
// every branch with scripted answers, and the update log records each one leaves.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "orvixtool/devicelink/upgrade_dlg.h"
#include "orvixtool/settingspage/user_setting_dlg.h"
#include "orvixtool/testsupport/pages_harness.h"
#include "orvixtool/testsupport/simulated_usb_device.h"
#include "orvixtool/testsupport/ui_queue.h"
#include "orvixtool/web/http_client.h"
#include "qvlib/util/testsupport/process_usage.h"
#include "sim/shop/z31shop.h"

using namespace devod;
using namespace devod::testing;

namespace {

constexpr char kEmail[] = "owner@example.com";
constexpr char kPassword[] = "secret";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class WorkflowTest : public ::testing::Test {
protected:
    void SetUp() override {
        old_dir_ = std::filesystem::current_path();
        dir_ = std::filesystem::temp_directory_path() / ("devod-flow-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        std::filesystem::current_path(dir_);  // "tmpDB" lands here
        setenv("DEVOD_WEB_HOST", "127.0.0.1", 1);
        setenv("DEVOD_WEB_PORT", std::to_string(shop_.Port()).c_str(), 1);
        page_->SetMainWindow(&pages_.main);
        page_->SetUiPost([this](std::function<void()> call) { ui_.Post(std::move(call)); });
    }
    void TearDown() override {
        page_.reset();
        std::filesystem::current_path(old_dir_);
        std::filesystem::remove_all(dir_);
        unsetenv("DEVOD_WEB_HOST");
        unsetenv("DEVOD_WEB_PORT");
        EXPECT_TRUE(prompt_.unexpected.empty()) << prompt_.unexpected.front();
    }

    // The text under which the catalogue offers a database, as the owner sees it in the list.
    std::string OfferedName(const z31sim::ShopDatabase& db) const {
        std::string href = shop_.DatabaseHref(db);
        for (const LinkEntry& link : prompt_.selections.back()) {
            if (link.href == href) return link.text;
        }
        return "";
    }
    // The owner picks the entry that links to `db`.
    void ChooseDatabase(const z31sim::ShopDatabase& db) {
        std::string href = shop_.DatabaseHref(db);
        prompt_.choose_database = [href](const LinkList& links) -> std::optional<std::string> {
            for (const LinkEntry& link : links) {
                if (link.href == href) return link.text;
            }
            return std::string("(not offered)");
        };
    }
    std::vector<std::string> LoggedResults() const {
        std::vector<std::string> results;
        for (const auto& record : shop_.LogRecords()) results.push_back(record.result);
        return results;
    }
    std::string PcFile() {
        std::string path = (dir_ / "mine.hdr").string();
        std::ofstream(path) << "$ a database on the PC";
        return path;
    }
    // The device on USB, connected as after the start-up probe.
    void ConnectUsb() {
        device_ = std::make_unique<SimulatedUsbDevice>("flow");
        pages_.connection.SetKind(kUsbConnection);
        page_->EnterState(CUpgradeDlgHttp::State::Connected);
    }
    // Runs the page's thread until the write has ended.
    bool RunWriteToItsEnd() {
        return ui_.RunUntil([&] { return !page_->WriteRunning(); });
    }

    z31sim::Shop shop_;
    std::filesystem::path old_dir_, dir_;
    ScopedTestClock clock_;
    UiQueue ui_;
    std::unique_ptr<SimulatedUsbDevice> device_;
    PagesHarness pages_;
    ScriptedPrompt& prompt_ = pages_.prompt;
    std::unique_ptr<CUpgradeDlgHttp>& page_ = pages_.upgrade;
};

}  // namespace

TEST_F(WorkflowTest, CancelAtTheFirstLoginEndsWithoutAnyRequest) {
    prompt_.AnswerLogin(std::nullopt);
    EXPECT_FALSE(page_->PrepareDatabaseFile());
    EXPECT_TRUE(shop_.Requests().empty());
    EXPECT_TRUE(shop_.LogRecords().empty());
}

TEST_F(WorkflowTest, ARejectedAccountAsksAgainThenTheDownloadIsConfirmedAndLogged) {
    const z31sim::ShopDatabase db = shop_.Config().databases[2];
    prompt_.AnswerLogin(LoginInput{kEmail, "wrong"});
    prompt_.AnswerLogin(LoginInput{kEmail, kPassword});
    prompt_.AnswerSelect(std::string());  // OK with nothing chosen: asked again
    ChooseDatabase(db);
    prompt_.AnswerBox(kIdOk);   // "Please select a database from the list"
    prompt_.AnswerBox(kIdYes);  // "Upload now?"
    EXPECT_TRUE(page_->PrepareDatabaseFile());
    EXPECT_EQ(prompt_.failed_logins, 1);
    EXPECT_EQ(prompt_.logins, 2);
    ASSERT_EQ(prompt_.selections.size(), 2u);
    EXPECT_EQ(prompt_.selections[0], prompt_.selections[1]);  // the same list again
    ASSERT_EQ(prompt_.boxes.size(), 2u);
    EXPECT_EQ(prompt_.boxes[0].text, "Please select a database from the list");
    EXPECT_EQ(prompt_.boxes[1].text,
              "You have selected the \"" + OfferedName(db) + "\" database. Upload now?");
    EXPECT_EQ(page_->DatabasePath(), "tmpDB");
    EXPECT_EQ(ReadAll("tmpDB"), shop_.DatabaseBytes(db.file));
    EXPECT_EQ(prompt_.wait_cursor, (std::vector<bool>{true, false}));
    // Nothing is logged until the file is in the device.
    EXPECT_TRUE(shop_.LogRecords().empty());
}

TEST_F(WorkflowTest, SuccessIsLoggedOnlyOnceTheWriteHasCompleted) {
    const z31sim::ShopDatabase db = shop_.Config().databases[2];
    ConnectUsb();
    prompt_.AnswerLogin(LoginInput{kEmail, kPassword});
    ChooseDatabase(db);
    prompt_.AnswerBox(kIdYes);  // "Upload now?"
    page_->OnUpdateDatabase();
    ASSERT_TRUE(page_->WriteRunning());
    EXPECT_TRUE(shop_.LogRecords().empty());
    ASSERT_TRUE(RunWriteToItsEnd());
    EXPECT_EQ(pages_.main.status, "Connected");
    auto records = shop_.LogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].email, kEmail);
    EXPECT_EQ(records[0].chosendb, OfferedName(db));
    EXPECT_EQ(records[0].version, "030313");
    EXPECT_EQ(records[0].result, "SUCCESS");
    EXPECT_EQ(records[0].key, "RAZIZ");
}

TEST_F(WorkflowTest, AFileTheWriteRefusesIsLoggedAsFailedByItsNameOnly) {
    ConnectUsb();
    prompt_.AnswerLogin(LoginInput{kEmail, kPassword});
    prompt_.AnswerSelect(std::nullopt);  // "Manual Update / Exit"
    prompt_.AnswerBox(kIdYes);           // a file on the PC
    prompt_.AnswerFile(PcFile());        // too short for a database
    prompt_.AnswerBox(kIdYes);           // "Are you sure?"
    prompt_.AnswerBox(kIdOk);            // "ERROR : NO HDR File"
    page_->OnUpdateDatabase();
    EXPECT_EQ(prompt_.boxes.back().text, "ERROR : NO HDR File");
    auto records = shop_.LogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].result, WebDatabaseSource::kResultWriteFailed);
    EXPECT_EQ(records[0].chosendb, "mine.hdr");  // not where the owner keeps it
}

TEST_F(WorkflowTest, AWriteThatFailsIsLoggedAsFailed) {
    const z31sim::ShopDatabase db = shop_.Config().databases[1];
    ConnectUsb();
    prompt_.AnswerLogin(LoginInput{kEmail, kPassword});
    ChooseDatabase(db);
    prompt_.AnswerBox(kIdYes);  // "Upload now?"
    clock_.clock.real_pauses = true;
    page_->OnUpdateDatabase();
    ASSERT_TRUE(page_->WriteRunning());
    (*device_)->SetWritesUnplugged(true);  // the cable is pulled mid-write
    ASSERT_TRUE(RunWriteToItsEnd());
    EXPECT_EQ(pages_.main.status, "Disconnect");
    EXPECT_EQ(LoggedResults(), std::vector<std::string>{WebDatabaseSource::kResultWriteFailed});
    EXPECT_EQ(shop_.LogRecords()[0].chosendb, OfferedName(db));
}

TEST_F(WorkflowTest, AWriteStoppedByExitIsLoggedAsFailed) {
    clock_.clock.real_pauses = true;  // the write stays running while the test looks
    ConnectUsb();
    std::string file = (dir_ / "big.hdr").string();
    std::ofstream(file) << '$' << std::string(2048 * 200 + 1023, 'd');
    prompt_.AnswerLogin(LoginInput{kEmail, kPassword});
    prompt_.AnswerSelect(std::nullopt);
    prompt_.AnswerBox(kIdYes);
    prompt_.AnswerFile(file);
    prompt_.AnswerBox(kIdYes);
    page_->OnUpdateDatabase();
    ASSERT_TRUE(page_->WriteRunning());
    page_->StopWrite();
    EXPECT_FALSE(page_->WriteRunning());
    EXPECT_EQ(LoggedResults(), std::vector<std::string>{WebDatabaseSource::kResultWriteFailed});
    EXPECT_EQ(shop_.LogRecords()[0].chosendb, "big.hdr");
}

TEST_F(WorkflowTest, WithoutADeviceNothingIsWrittenAndTheUpdateIsLoggedAsFailed) {
    const z31sim::ShopDatabase db = shop_.Config().databases[0];
    prompt_.AnswerLogin(LoginInput{kEmail, kPassword});
    ChooseDatabase(db);
    prompt_.AnswerBox(kIdYes);
    page_->OnUpdateDatabase();
    EXPECT_FALSE(page_->WriteRunning());
    EXPECT_EQ(LoggedResults(), std::vector<std::string>{WebDatabaseSource::kResultWriteFailed});
}

TEST_F(WorkflowTest, AFailedLoginIsLoggedAndOffersTheManualPath) {
    shop_.SetStatus(z31sim::kLoginPath, 500);
    prompt_.AnswerLogin(LoginInput{kEmail, kPassword});
    prompt_.AnswerBox(kIdYes);  // update manually
    std::string file = PcFile();
    prompt_.AnswerFile(file);
    prompt_.AnswerBox(kIdYes);  // "Are you sure?"
    EXPECT_TRUE(page_->PrepareDatabaseFile());
    EXPECT_EQ(prompt_.boxes[0].text, WebDatabaseSource::kCannotConnectServerText);
    EXPECT_EQ(prompt_.boxes[0].caption, "Error");
    EXPECT_EQ(prompt_.boxes[1].text, "You have selected \" mine.hdr \". Are you sure?");
    EXPECT_EQ(prompt_.file_requests[0].filter, "hdr Files (*.hdr)|*.hdr|");
    EXPECT_FALSE(prompt_.file_requests[0].save);
    EXPECT_EQ(page_->DatabasePath(), file);
    auto records = shop_.LogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].result, "NO OR UNEXPECTED RESPONSE FROM SERVER");
    EXPECT_EQ(records[0].chosendb, "");  // emptied at the start of the attempt
}

TEST_F(WorkflowTest, AFailedDownloadKeepsTheOldFileAndOffersTheManualPath) {
    const z31sim::ShopDatabase db = shop_.Config().databases[0];
    std::ofstream("tmpDB") << "old";
    shop_.SetStatus(std::string(z31sim::kDatabaseDir) + db.file + ".hdr", 500);
    prompt_.AnswerLogin(LoginInput{kEmail, kPassword});
    ChooseDatabase(db);
    prompt_.AnswerBox(kIdYes);  // "Failed to download file. … manually?"
    prompt_.AnswerFile(PcFile());
    prompt_.AnswerBox(kIdNo);  // "Are you sure?"
    EXPECT_FALSE(page_->PrepareDatabaseFile());
    EXPECT_EQ(ReadAll("tmpDB"), "old");
    EXPECT_EQ(prompt_.boxes[0].text,
              "Failed to download file.\r\n\r\nDo you want to update manually?");
    EXPECT_EQ(LoggedResults(), std::vector<std::string>{"FAILED TO DOWNLOAD FILE"});
    EXPECT_EQ(shop_.LogRecords()[0].chosendb, OfferedName(db));
}

TEST_F(WorkflowTest, NoToUploadNowLeavesTheDownloadAndLogsNothing) {
    const z31sim::ShopDatabase db = shop_.Config().databases[1];
    prompt_.AnswerLogin(LoginInput{kEmail, kPassword});
    ChooseDatabase(db);
    prompt_.AnswerBox(kIdNo);  // "Upload now?"
    EXPECT_FALSE(page_->PrepareDatabaseFile());
    EXPECT_EQ(ReadAll("tmpDB"), shop_.DatabaseBytes(db.file));
    EXPECT_TRUE(shop_.LogRecords().empty());
}

TEST_F(WorkflowTest, CancelledSelectionAsksForAFileOnThePc) {
    prompt_.AnswerLogin(LoginInput{kEmail, kPassword});
    prompt_.AnswerSelect(std::nullopt);  // "Manual Update / Exit"
    prompt_.AnswerBox(kIdNo);            // not from the PC either
    EXPECT_FALSE(page_->PrepareDatabaseFile());
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text, "Do you want to find an update file on your PC?");
    EXPECT_EQ(prompt_.boxes[0].caption, "");
    EXPECT_TRUE(shop_.LogRecords().empty());
}

TEST_F(WorkflowTest, AnUnreachableShopEndsTheRunWithTheInternetError) {
    shop_.GoDown();
    prompt_.AnswerLogin(LoginInput{kEmail, kPassword});
    EXPECT_THROW(page_->PrepareDatabaseFile(), InternetError);
    EXPECT_TRUE(shop_.LogRecords().empty());
}

// Update after update on one connection, each database chosen from the shop in turn: the device
// receives every one whole (the opening message and the body, byte for byte), the update log
// holds exactly one SUCCESS record for each, and the program holds no more descriptors or threads
// at the end than after the first. 200 updates (DEVOD_SOAK_UPDATES sets another count); the
// pauses run on the test clock, so they cost no time.
TEST_F(WorkflowTest, UpdatesInARowEachArriveWholeAndEachIsLoggedOnce) {
    const int updates = util::testing::SizeFromEnv("DEVOD_SOAK_UPDATES", 200);
    const auto& databases = shop_.Config().databases;
    ConnectUsb();
    util::testing::ProcessUsage warm;
    const auto began = std::chrono::steady_clock::now();
    std::size_t bytes = 0;
    for (int update = 0; update < updates; ++update) {
        const z31sim::ShopDatabase& db = databases[update % databases.size()];
        (*device_)->ClearReceived();
        prompt_.AnswerLogin(LoginInput{kEmail, kPassword});
        ChooseDatabase(db);
        prompt_.AnswerBox(kIdYes);  // "Upload now?"
        page_->OnUpdateDatabase();
        ASSERT_TRUE(page_->WriteRunning()) << "update " << update;
        ASSERT_TRUE(RunWriteToItsEnd()) << "update " << update;
        ASSERT_EQ(pages_.main.status, "Connected") << "update " << update;
        const std::string file = shop_.DatabaseBytes(db.file);
        std::string sent = file.substr(0, 20) + file.substr(1024);
        ASSERT_TRUE((*device_)->WaitForStreamBytes(sent.size(), std::chrono::seconds(5)));
        const z31sim::Bytes received = (*device_)->ReceivedStream();
        ASSERT_EQ(std::string(received.begin(), received.end()), sent) << "update " << update;
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
        EXPECT_EQ(records[i].email, kEmail) << "record " << i;
        EXPECT_EQ(records[i].chosendb, OfferedName(databases[i % databases.size()]))
            << "record " << i;
    }
    std::printf("usb updates: %d in a row, %zu bytes received, %zu log records, %.1f s\n", updates,
                bytes, records.size(), seconds);
    std::printf("usb updates: after update 1 -> after update %d: %s\n", updates,
                util::testing::Describe(warm, end).c_str());
    EXPECT_EQ(end.fds, warm.fds);
    EXPECT_EQ(end.threads, warm.threads);
}
