// Exporting the device's user points to a file.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "orvixtool/settingspage/tests/device_fixture.h"

namespace devod::testing {
namespace {

constexpr char kHeader[] = "No\tLat\tLong\tDir\r\n";

class ExportTest : public DevicePageTest {
protected:
    void SetUp() override {
        DevicePageTest::SetUp();
        dir_ =
            std::filesystem::temp_directory_path() / ("devod_points_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "points.xls").string();
    }
    void TearDown() override {
        std::filesystem::remove_all(dir_);
        DevicePageTest::TearDown();
    }
    std::string Contents() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The text of the one closing box.
    std::string Result() const {
        EXPECT_EQ(prompt_.boxes.size(), 1u);
        if (prompt_.boxes.empty()) return "(no box)";
        EXPECT_EQ(prompt_.boxes[0].caption, "DevodTool");
        EXPECT_EQ(prompt_.boxes[0].style, kMbOk);
        return prompt_.boxes[0].text;
    }
    static std::vector<z31sim::UserPoint> Points(int count) {
        std::vector<z31sim::UserPoint> points;
        for (int i = 1; i <= count; ++i) {
            points.push_back({static_cast<uint16_t>(i), i * 100000, -i * 100000});
        }
        return points;
    }
    static std::string Lines(int from, int to) {
        std::string text;
        char line[64];
        for (int i = from; i <= to; ++i) {
            std::snprintf(line, sizeof line, "%d\t%d.00000\t-%d.00000\t%d\r\n", i, i, i, i);
            text += line;
        }
        return text;
    }

    std::filesystem::path dir_;
    std::string path_;
};

TEST_F(ExportTest, TwoPointsAreSaved) {
    device_->SetUserPoints({{65535, -3513820, 14912345}, {90, 5123456, -12345}});
    prompt_.AnswerFile(path_);
    page_.OnCommand(1089);
    EXPECT_EQ(Frames(1), (std::vector<z31sim::Bytes>{{0x23, 0x02, 0x01}}));
    EXPECT_EQ(Contents(), std::string(kHeader) +
                              "1\t-35.13820\t149.12345\t65535\r\n"
                              "2\t51.23456\t-0.12345\t90\r\n");
    EXPECT_EQ(Result(), " Save User DB : Completed!");
    EXPECT_EQ(clock_.sleeps, (std::vector<uint32_t>{300}));
    ExpectPagesConnected();

    ASSERT_EQ(prompt_.file_requests.size(), 1u);
    const FileDialogRequest& request = prompt_.file_requests[0];
    EXPECT_TRUE(request.save);
    EXPECT_EQ(request.default_extension, "xls");
    EXPECT_EQ(request.initial_name, "*.xls");
    EXPECT_EQ(request.filter, "csv Files (*.xls)|*.xls|GPX Files (*.gpx)|*.gpx|");
    EXPECT_TRUE(request.overwrite_prompt);
    EXPECT_TRUE(request.hide_read_only);
    EXPECT_FALSE(request.file_must_exist);
}

TEST_F(ExportTest, AGpxFileNameGivesWaypointsThatMapProgramsRead) {
    // The second point lies beyond GPX's longitudes: clamped, its own value kept beside.
    device_->SetUserPoints({{65535, -3513820, 14912345}, {90, 5123456, 18000000}});
    path_ = (dir_ / "points.GPX").string();
    prompt_.AnswerFile(path_);
    page_.OnCommand(1089);
    EXPECT_EQ(Result(), " Save User DB : Completed!");
    const std::string gpx = Contents();
    EXPECT_NE(gpx.find("<wpt lat=\"-35.13820\" lon=\"149.12345\">"), std::string::npos) << gpx;
    EXPECT_NE(gpx.find("<qv:point direction=\"65535\"/>"), std::string::npos);
    EXPECT_NE(gpx.find("<wpt lat=\"51.23456\" lon=\"179.99999\">"), std::string::npos);
    EXPECT_NE(gpx.find("direction=\"90\" longitude=\"18000000\""), std::string::npos);
    const std::string check =
        std::string("xmllint --noout --schema ") + GPX_SCHEMA + " '" + path_ + "' > /dev/null 2>&1";
    EXPECT_EQ(std::system(check.c_str()), 0) << gpx;
}

TEST_F(ExportTest, ExistingFileIsReplaced) {
    std::ofstream(path_) << std::string(5000, 'x');
    device_->SetUserPoints(Points(1));
    prompt_.AnswerFile(path_);
    page_.OnCommand(1089);
    EXPECT_EQ(Contents(), kHeader + Lines(1, 1));
}

TEST_F(ExportTest, NoPointsAsksForNoFile) {
    page_.OnCommand(1089);
    EXPECT_EQ(Result(), "NO user DB ");
    EXPECT_TRUE(prompt_.file_requests.empty());
    ExpectPagesConnected();
}

TEST_F(ExportTest, CancelWritesNothing) {
    device_->SetUserPoints(Points(3));
    prompt_.AnswerFile(std::nullopt);
    page_.OnCommand(1089);
    EXPECT_EQ(Result(), "Canceled to save user db");
    EXPECT_FALSE(std::filesystem::exists(path_));
    ExpectPagesConnected();
}

TEST_F(ExportTest, CountAboveAHundredWritesTheHundredReceived) {
    device_->SetUserPoints(Points(100));
    device_->SetUserPointCount(180);
    prompt_.AnswerFile(path_);
    page_.OnCommand(1089);
    EXPECT_EQ(Contents(), kHeader + Lines(1, 100));
}

TEST_F(ExportTest, CountAboveThePointsSentWritesZeroPoints) {
    device_->SetUserPoints(Points(2));
    device_->SetUserPointCount(3);
    prompt_.AnswerFile(path_);
    page_.OnCommand(1089);
    EXPECT_EQ(Contents(), kHeader + Lines(1, 2) + "3\t0.00000\t0.00000\t0\r\n");
}

TEST_F(ExportTest, ATransferTooShortForItsPointsIsReportedAndNothingSaved) {
    std::ofstream(path_) << "an older export";
    device_->SetUserPoints(Points(32));
    device_->SetShortReplies(304);  // 30 whole points, and of the 31st 4 bytes
    page_.OnCommand(1089);
    EXPECT_EQ(Result(),
              "Cannot read the user DB from the Z31: 304 of the 320 bytes of its points arrived");
    EXPECT_TRUE(prompt_.file_requests.empty());
    EXPECT_EQ(Contents(), "an older export");
    ExpectPagesConnected();
}

TEST_F(ExportTest, ATransferThatHoldsEveryCountedPointIsEnough) {
    device_->SetUserPoints(Points(30));
    device_->SetShortReplies(300);  // exactly the 30 points, nothing of the rest
    prompt_.AnswerFile(path_);
    page_.OnCommand(1089);
    EXPECT_EQ(Result(), " Save User DB : Completed!");
    EXPECT_EQ(Contents(), kHeader + Lines(1, 30));
}

TEST_F(ExportTest, FileThatCannotBeCreatedIsReported) {
    device_->SetUserPoints(Points(1));
    const std::string path = (dir_ / "missing" / "points.xls").string();
    prompt_.AnswerFile(path);
    page_.OnCommand(1089);
    EXPECT_EQ(Result(), "Cannot create the file " + path + ": No such file or directory");
    ExpectPagesConnected();
}

TEST_F(ExportTest, SilentDeviceIsReported) {
    ShortReplyTimeout();
    device_->SetReadFault(z31sim::ReadFault::kNoReply);
    page_.OnCommand(1089);
    EXPECT_EQ(Result(), "Connection timed out");
    EXPECT_TRUE(prompt_.file_requests.empty());
    ExpectPagesConnected();
}

TEST_F(ExportTest, ClosedInputPipeIsReported) {
    device_->SetUserPoints(Points(1));
    device_->SetReadFault(z31sim::ReadFault::kClosePipe);
    page_.OnCommand(1089);
    EXPECT_EQ(Result(), "Broken pipe");
    ExpectPagesConnected();
}

TEST_F(ExportTest, UnpluggedDeviceDisconnectsWithoutABox) {
    device_->SetAttached(false);
    page_.OnCommand(1089);
    ExpectDisconnected();
    EXPECT_TRUE(prompt_.boxes.empty());
    EXPECT_TRUE(prompt_.file_requests.empty());
}

}  // namespace
}  // namespace devod::testing
