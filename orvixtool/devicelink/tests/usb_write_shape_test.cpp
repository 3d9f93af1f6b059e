// Database files whose body blocks look like settings frames: the page streams them unchanged and
// the device keeps them in the database, its settings untouched.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "orvixtool/devicelink/connection_model.h"
#include "orvixtool/devicelink/upgrade_dlg.h"
#include "orvixtool/testsupport/pages_harness.h"
#include "orvixtool/testsupport/simulated_usb_device.h"
#include "orvixtool/testsupport/ui_queue.h"
#include "sim/usb/z31usb.h"

using namespace devod;
using namespace devod::testing;

namespace {

const z31sim::SettingsRecordBytes kSettings{0x00, 0x01, 0x00, 0x01, 0x89, 0x03};
const z31sim::UserSpeedBytes kSpeeds{50, 60, 70, 80, 90};
constexpr size_t kHeader = 1024;
constexpr size_t kBlock = 2048;

// A database file: "$", a header, then body blocks of the given sizes, each beginning with its
// own head bytes and filled with a pattern after them.
std::vector<uint8_t> DatabaseFile(
    const std::vector<std::pair<std::vector<uint8_t>, size_t>>& blocks) {
    std::vector<uint8_t> file(kHeader);
    for (size_t i = 0; i < kHeader; ++i) file[i] = static_cast<uint8_t>(i * 13);
    file[0] = '$';
    for (const auto& [head, size] : blocks) {
        const size_t start = file.size();
        for (size_t i = 0; i < size; ++i) file.push_back(static_cast<uint8_t>(start + i * 3));
        std::copy(head.begin(), head.end(), file.begin() + static_cast<ptrdiff_t>(start));
    }
    return file;
}

class UsbWriteShapeTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("devod-shape-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        device_->SetSettingsRecord(kSettings);
        device_->SetUserSpeeds(kSpeeds);
        page_->SetUiPost([this](std::function<void()> call) { ui_.Post(std::move(call)); });
        pages_.Initialise();
        pages_.connection.SetKind(kUsbConnection);
        page_->EnterState(CUpgradeDlgHttp::State::Connected);
    }
    void TearDown() override {
        page_.reset();
        ui_.Drop();
        std::filesystem::remove_all(dir_);
    }

    // Writes `file` through the page and checks what the device made of it.
    void ExpectStreamedWhole(const std::vector<uint8_t>& file) {
        const std::string path = (dir_ / "db.hdr").string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()),
                   static_cast<std::streamsize>(file.size()));
        page_->SetDatabasePath(path);
        ASSERT_TRUE(page_->StartUsbWrite());
        ASSERT_TRUE(ui_.RunUntil([&] { return pages_.main.status != "Updating DB"; }));
        EXPECT_EQ(pages_.main.status, "Connected");

        std::vector<uint8_t> expected(file.begin(), file.begin() + 20);
        expected.insert(expected.end(), file.begin() + kHeader, file.end());
        ASSERT_TRUE(device_->WaitForStreamBytes(expected.size(), std::chrono::seconds(5)));
        EXPECT_TRUE(device_->ReceivedStream() == expected) << "stream differs";
        std::vector<size_t> sizes{20};
        for (size_t left = file.size() - kHeader; left > 0; left -= std::min(left, kBlock)) {
            sizes.push_back(std::min(left, kBlock));
        }
        EXPECT_EQ(device_->ReceivedTransferSizes(), sizes);
        EXPECT_TRUE(device_->ReceivedFrames().empty());
        EXPECT_EQ(device_->SettingsRecord(), kSettings);
        EXPECT_EQ(device_->UserSpeeds(), kSpeeds);
    }

    std::filesystem::path dir_;
    ScopedTestClock scoped_clock_;
    UiQueue ui_;
    SimulatedUsbDevice device_{"shape"};
    PagesHarness pages_;
    std::unique_ptr<CUpgradeDlgHttp>& page_ = pages_.upgrade;
};

}  // namespace

TEST_F(UsbWriteShapeTest, LastBlockShapedLikeASettingsWriteReachesTheDatabase) {
    // 2 full blocks and a last one of 64 bytes that reads as "settings record := 09 08 07 ...".
    ExpectStreamedWhole(
        DatabaseFile({{{}, kBlock}, {{}, kBlock}, {{0x23, 1, 2, 9, 8, 7, 6, 5, 4}, 64}}));
}

TEST_F(UsbWriteShapeTest, EveryBlockShapedLikeAFrameReachesTheDatabase) {
    std::vector<std::pair<std::vector<uint8_t>, size_t>> blocks;
    for (uint8_t kind = 1; kind <= 3; ++kind) {
        for (uint8_t dir = 1; dir <= 2; ++dir) blocks.push_back({{0x23, kind, dir}, kBlock});
    }
    blocks.push_back({{0x23, 3, 1}, 3});  // exactly a user speed read request, as the last block
    ExpectStreamedWhole(DatabaseFile(blocks));
}
