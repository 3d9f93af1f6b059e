// The database write to the device: the checks before it starts, the stream the simulated device
// receives, retries, a write that fails for good, and a page that goes away mid-write.
#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "orvixtool/devicelink/connection_model.h"
#include "orvixtool/devicelink/pipe_bridge.h"
#include "orvixtool/devicelink/upgrade_dlg.h"
#include "orvixtool/settingspage/user_setting_dlg.h"
#include "orvixtool/testsupport/pages_harness.h"
#include "orvixtool/testsupport/simulated_usb_device.h"
#include "orvixtool/testsupport/ui_queue.h"
#include "sim/usb/z31usb.h"

using namespace devod;
using namespace devod::testing;

namespace {

std::vector<uint8_t> DatabaseFile(size_t size, uint8_t first = '$') {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
    if (size > 0) bytes[0] = first;
    return bytes;
}

class UsbWriteTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("devod-write-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        setenv("Z31_USB_WRITE_TIMEOUT_MS", "30", 1);
        page_->SetUiPost([this](std::function<void()> call) { ui_.Post(std::move(call)); });
        pages_.Initialise();
        pages_.connection.SetKind(kUsbConnection);
        page_->EnterState(CUpgradeDlgHttp::State::Connected);
    }
    void TearDown() override {
        page_.reset();
        ui_.Drop();
        unsetenv("Z31_USB_WRITE_TIMEOUT_MS");
        std::filesystem::remove_all(dir_);
    }

    std::string WriteFile(const std::vector<uint8_t>& bytes) {
        std::string path = (dir_ / "db.hdr").string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    static std::vector<uint8_t> Expected(const std::vector<uint8_t>& file) {
        std::vector<uint8_t> stream(file.begin(), file.begin() + 20);
        stream.insert(stream.end(), file.begin() + 1024, file.end());
        return stream;
    }
    // Starts the write of `file` and runs the page's thread until the write has reported.
    bool WriteToTheEnd(const std::vector<uint8_t>& file) {
        page_->SetDatabasePath(WriteFile(file));
        if (!page_->StartUsbWrite()) return false;
        EXPECT_EQ(main_.status, "Updating DB");
        return ui_.RunUntil([&] { return main_.status != "Updating DB"; });
    }

    std::filesystem::path dir_;
    ScopedTestClock scoped_clock_;
    TestClock& clock_ = scoped_clock_.clock;
    UiQueue ui_;
    SimulatedUsbDevice device_{"write"};
    PagesHarness pages_;
    FakeControls& upgrade_controls_ = pages_.upgrade_controls;
    FakeTimers& timers_ = pages_.timers;
    ScriptedPrompt& prompt_ = pages_.prompt;
    FakeMainWindow& main_ = pages_.main;
    std::unique_ptr<CUpgradeDlgHttp>& page_ = pages_.upgrade;
};

}  // namespace

TEST_F(UsbWriteTest, StreamsTheOpeningMessageAndTheBodyInBlocks) {
    for (size_t size : {size_t{1025}, size_t{2048 * 3 + 1024}, size_t{2048 * 2 + 1024 + 700}}) {
        device_->ClearReceived();
        std::vector<uint8_t> file = DatabaseFile(size);
        ASSERT_TRUE(WriteToTheEnd(file)) << size;
        EXPECT_EQ(main_.status, "Connected");
        EXPECT_TRUE(device_->WaitForStreamBytes(size - 1004, std::chrono::seconds(5)));
        EXPECT_EQ(device_->ReceivedStream(), Expected(file)) << size;
        std::vector<size_t> sizes = device_->ReceivedTransferSizes();
        ASSERT_FALSE(sizes.empty());
        EXPECT_EQ(sizes.front(), 20u);
        for (size_t i = 1; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 2048u);
        EXPECT_NE(sizes.back(), 0u);  // no empty block, also for a multiple of 2048
        // The outcome box comes from a one-shot timer; the bar is back at 0.
        EXPECT_EQ(upgrade_controls_.Progress(CUpgradeDlgHttp::kIdProgressWrite).Pos(), 0);
        page_->OnTimer(CUpgradeDlgHttp::kTimerWriteDone);
        ASSERT_FALSE(prompt_.boxes.empty());
        EXPECT_EQ(prompt_.boxes.back().text, "DB Upgrade : Completed!");
        EXPECT_EQ(prompt_.boxes.back().caption, "COMPLETE");
        EXPECT_FALSE(timers_.IsRunning(CUpgradeDlgHttp::kTimerWriteDone));
    }
}

TEST_F(UsbWriteTest, BadFilesAreRefusedBeforeAnythingIsSent) {
    struct Case {
        std::vector<uint8_t> bytes;
        const char* text;
    } cases[] = {{DatabaseFile(1024), "ERROR : NO HDR File"},
                 {DatabaseFile(5000, '#'), "ERROR : NO HDR File"}};
    for (const Case& c : cases) {
        page_->SetDatabasePath(WriteFile(c.bytes));
        EXPECT_FALSE(page_->StartUsbWrite());
        ASSERT_FALSE(prompt_.boxes.empty());
        EXPECT_EQ(prompt_.boxes.back().text, c.text);
        EXPECT_EQ(prompt_.boxes.back().caption, "Error");
    }
    page_->SetDatabasePath((dir_ / "missing.hdr").string());
    EXPECT_FALSE(page_->StartUsbWrite());
    EXPECT_EQ(prompt_.boxes.back().text, "Error : Can't open File");
    device_->SetPipeRefused(z31sim::Pipe::kOut, true);
    page_->SetDatabasePath(WriteFile(DatabaseFile(3000)));
    EXPECT_FALSE(page_->StartUsbWrite());
    EXPECT_EQ(prompt_.boxes.back().text, "Error : Can't open USB device.");
    // The page stays connected and nothing reached the device.
    EXPECT_EQ(main_.status, "Connected");
    EXPECT_TRUE(device_->ReceivedStream().empty());
}

TEST_F(UsbWriteTest, NoDeviceOrNoLibraryStartsNothingSilently) {
    page_->SetDatabasePath(WriteFile(DatabaseFile(3000)));
    device_->SetAttached(false);
    EXPECT_FALSE(page_->StartUsbWrite());
    PipeBridge::SetLibraryPath("/nonexistent/libPipeBridge.so");
    EXPECT_FALSE(page_->StartUsbWrite());
    EXPECT_TRUE(prompt_.boxes.empty());
    EXPECT_EQ(main_.status, "Connected");
}

TEST_F(UsbWriteTest, WritesThatFailForAWhileAreRetriedAndNothingIsLost) {
    std::vector<uint8_t> file = DatabaseFile(2048 * 80 + 1024);
    device_->StallWrites(std::chrono::milliseconds(400));
    ASSERT_TRUE(WriteToTheEnd(file));
    EXPECT_EQ(main_.status, "Connected");
    EXPECT_TRUE(device_->WaitForStreamBytes(file.size() - 1004, std::chrono::seconds(5)));
    EXPECT_EQ(device_->ReceivedStream(), Expected(file));
}

TEST_F(UsbWriteTest, AnUnpluggedCableEndsTheWriteWithinTwoSecondsAndDisconnects) {
    clock_.real_pauses = true;
    page_->SetDatabasePath(WriteFile(DatabaseFile(2048 * 100 + 1024)));
    ASSERT_TRUE(page_->StartUsbWrite());
    ASSERT_TRUE(ui_.RunUntil([&] { return page_->Writer().BytesSent() >= 2048; }));
    device_->SetWritesUnplugged(true);  // the cable is pulled mid-write
    clock_.real_pauses = false;
    const uint64_t pulled = clock_.NowMs();
    ASSERT_TRUE(ui_.RunUntil([&] { return main_.status != "Updating DB"; }));
    // A device that is gone ends the write at once, not after 3002 attempts of 100 ms.
    EXPECT_LT(clock_.NowMs() - pulled, 2000u);
    EXPECT_EQ(main_.status, "Disconnect");
    EXPECT_EQ(pages_.connection.Kind(), kNoConnection);
    EXPECT_TRUE(upgrade_controls_.IsEnabled(CUpgradeDlgHttp::kIdConnect));
    page_->OnTimer(CUpgradeDlgHttp::kTimerWriteFailed);
    EXPECT_EQ(prompt_.boxes.back().text, "Error : DB write fail   \n\n  Retry to download!");
    EXPECT_EQ(prompt_.boxes.back().caption, "ERROR");
}

TEST_F(UsbWriteTest, ProgressFollowsTheBytesSent) {
    clock_.real_pauses = true;
    page_->SetDatabasePath(WriteFile(DatabaseFile(2048 * 50 + 1024)));
    ASSERT_TRUE(page_->StartUsbWrite());
    EXPECT_TRUE(timers_.IsRunning(CUpgradeDlgHttp::kTimerWriteProgress));
    const ProgressState& bar = upgrade_controls_.Progress(CUpgradeDlgHttp::kIdProgressWrite);
    EXPECT_EQ(bar.Maximum(), 2048 * 50);
    ASSERT_TRUE(ui_.RunUntil([&] { return page_->Writer().BytesSent() >= 4096; }));
    page_->OnTimer(CUpgradeDlgHttp::kTimerWriteProgress);
    EXPECT_GE(bar.Pos(), 4096);
    EXPECT_LE(bar.Pos(), 2048 * 50);
    ASSERT_TRUE(ui_.RunUntil([&] { return main_.status == "Connected"; }));
    EXPECT_FALSE(timers_.IsRunning(CUpgradeDlgHttp::kTimerWriteProgress));
}

TEST_F(UsbWriteTest, ThePageGoingAwayMidWriteStopsTheThread) {
    clock_.real_pauses = true;
    std::vector<uint8_t> file = DatabaseFile(2048 * 200 + 1024);
    page_->SetDatabasePath(WriteFile(file));
    ASSERT_TRUE(page_->StartUsbWrite());
    ASSERT_TRUE(ui_.RunUntil([&] { return page_->Writer().BytesSent() >= 2048; }));
    page_.reset();  // the window closes: the thread stops before its next block
    ui_.Drop();
    EXPECT_LT(device_->ReceivedStream().size(), Expected(file).size());
}
