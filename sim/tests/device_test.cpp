// The device through a real pty, driven the way the host library drives it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <thread>

#include "sim/protocol.h"
#include "sim/tests/host_port.h"
#include "sim/tests/nmea_check.h"
#include "sim/z31sim.h"

namespace z31sim {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using testing::HostPort;
using testing::Sentences;
using testing::ValidNmea;
using testing::WaitFor;

constexpr auto kReply = 3000ms;  // generous: sanitizer builds on a busy machine are slow
constexpr auto kQuiet = 150ms;   // how long to listen when nothing should arrive

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// True when the host's descriptor reports the line hung up: end of file or an I/O error.
bool SeesHangUp(int fd) {
    for (int i = 0; i < 100; ++i) {  // at most 100 reads of stale data
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 3000) != 1) return false;
        if (p.revents & POLLHUP) return true;
        char buf[512];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno == EIO)) return true;
    }
    return false;
}

class DeviceTest : public ::testing::Test {
protected:
    DeviceTest() {
        cfg_.nmea_period_ms = 50;
        cfg_.fw_version = "3.14";
        cfg_.db_version = "2025.01";
        cfg_.voc_version = "7";
        cfg_.device_id = "Z31S123";
        cfg_.serial_number = "SN-42";
    }

    void Start() { dev_ = std::make_unique<Device>(dir_.path(), cfg_); }
    void Connect(int baud) { ASSERT_EQ(host_.Open(dev_->PortPath(), baud), ""); }
    std::string Ask(const std::string& command) {
        EXPECT_TRUE(host_.Write(command));
        return host_.ReadUntil("QV>>", kReply);
    }
    bool WaitForMode(Mode mode) {
        return WaitFor([&] { return dev_->CurrentMode() == mode; }, kReply);
    }

    PortDir dir_;
    DeviceConfig cfg_;
    std::unique_ptr<Device> dev_;
    HostPort host_;
};

TEST_F(DeviceTest, StreamsValidNmeaAtTheNmeaRate) {
    Start();
    Connect(4800);
    const std::string got = host_.ReadUntil("$GPGSV,3,3", kReply);
    const auto sentences = Sentences(got);
    ASSERT_GE(sentences.size(), 3u) << got;
    for (const auto& s : sentences) EXPECT_TRUE(ValidNmea(s)) << s;
    for (const char* kind : {"$GPGGA,", "$GPRMC,", "$GPGSA,", "$GPGSV,"}) {
        EXPECT_NE(host_.ReadUntil(kind, kReply).find(kind), std::string::npos) << kind;
    }
}

TEST_F(DeviceTest, NmeaIsLostWhileTheHostListensAtAnotherRate) {
    Start();
    Connect(115200);
    const std::size_t lost = dev_->LostSentBytes();
    ASSERT_TRUE(WaitFor([&] { return dev_->LostSentBytes() > lost; }, kReply));
    EXPECT_EQ(host_.ReadFor(kQuiet), "");
}

TEST_F(DeviceTest, DnmodeThenReopenAtCommandRateGivesPrompt) {
    Start();
    Connect(4800);
    ASSERT_TRUE(host_.Write("$dnmode\r"));
    ASSERT_TRUE(WaitForMode(Mode::Download));
    Connect(115200);
    // The "QV>>" answering $dnmode went out at the command rate while the host was still at
    // 4800, so it is normally lost; only the prompt asked for is certain.
    EXPECT_TRUE(Ask("\r\n").ends_with("\r\nQV>>"));
    EXPECT_EQ(Ask("\r"), "\r\nQV>>");
    EXPECT_EQ(dev_->ReceivedCommands(), (std::vector<std::string>{"$dnmode", "", ""}));
}

TEST_F(DeviceTest, DnmodePromptGoesOutAtTheCommandRate) {
    Start();
    dev_->SetReplyDelayMs(400);  // time for the host to change speed before the prompt
    Connect(4800);
    ASSERT_TRUE(host_.Write("$dnmode\r"));
    ASSERT_TRUE(WaitForMode(Mode::Download));
    Connect(115200);
    EXPECT_EQ(host_.ReadUntil("QV>>", kReply), "QV>>");
}

TEST_F(DeviceTest, QqResumesTheStreamAtTheNmeaRate) {
    cfg_.start_mode = Mode::Download;
    Start();
    Connect(115200);
    ASSERT_TRUE(host_.Write("qq\r\n"));
    ASSERT_TRUE(WaitForMode(Mode::Normal));
    Connect(4800);
    const auto sentences = Sentences(host_.ReadUntil("$GPGSV,3,3", kReply));
    ASSERT_FALSE(sentences.empty());
    for (const auto& s : sentences) EXPECT_TRUE(ValidNmea(s)) << s;
}

TEST_F(DeviceTest, SilentDeviceStreamsNothingUntilItSpeaksAgain) {
    Start();
    dev_->SetSilent(true);
    Connect(4800);
    EXPECT_EQ(host_.ReadFor(kQuiet), "");
    dev_->SetSilent(false);
    EXPECT_NE(host_.ReadUntil("$GPGGA", kReply).find("$GPGGA"), std::string::npos);
}

TEST_F(DeviceTest, PortIsNoLongerExclusiveOnceTheHostHasGone) {
    Start();
    Connect(4800);  // takes TIOCEXCL; the host will die without releasing it
    const int probe = open(dev_->PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (probe < 0) {
        // Without CAP_SYS_ADMIN the port is busy while the host holds it, and must open again
        // once the host has closed it.
        ASSERT_EQ(errno, EBUSY);
        host_.Close(/*release_exclusive=*/false);
        EXPECT_TRUE(
            WaitFor([&] { return HostPort().Open(dev_->PortPath(), 4800).empty(); }, kReply));
        return;
    }
    // Root opens an exclusive tty anyway; the probe watches the flag without closing.
    int excl = 0;
    ASSERT_EQ(ioctl(probe, TIOCGEXCL, &excl), 0);
    ASSERT_EQ(excl, 1);
    host_.Close(/*release_exclusive=*/false);
    EXPECT_TRUE(WaitFor([&] { return ioctl(probe, TIOCGEXCL, &excl) == 0 && excl == 0; }, kReply));
    close(probe);
}

TEST_F(DeviceTest, HangUpKillsTheLineAndRemovesTheLink) {
    Start();
    Connect(4800);
    dev_->HangUp();
    EXPECT_TRUE(dev_->IsHungUp());
    EXPECT_FALSE(Exists(dev_->PortPath()));
    EXPECT_TRUE(SeesHangUp(host_.fd()));
    EXPECT_FALSE(host_.Write("\r"));
    dev_->HangUp();  // a second time does nothing
    HostPort again;
    EXPECT_NE(again.Open(dev_->PortPath(), 4800), "");
}

TEST_F(DeviceTest, DestroyingTheDeviceHangsUpAHostHoldingThePort) {
    Start();
    Connect(4800);
    const std::string link = dev_->PortPath();
    dev_.reset();
    EXPECT_FALSE(Exists(link));
    EXPECT_TRUE(SeesHangUp(host_.fd()));
}

TEST_F(DeviceTest, BadConfigurationIsRefusedClearly) {
    cfg_.nmea_baud = 4801;
    EXPECT_THROW(Start(), std::invalid_argument);
    cfg_ = DeviceConfig();
    cfg_.port_number = 0;
    EXPECT_THROW(Start(), std::invalid_argument);
    cfg_ = DeviceConfig();
    cfg_.fw_version = "1\r2";
    EXPECT_THROW(Start(), std::invalid_argument);
    EXPECT_THROW(Device(dir_.path() + "/missing", DeviceConfig()), std::runtime_error);
}

TEST_F(DeviceTest, TakenPortIsRefusedButAStaleLinkIsReplaced) {
    Start();
    EXPECT_THROW(Device(dir_.path(), cfg_), std::runtime_error);
    const std::string link = dir_.path() + "/com2";
    ASSERT_EQ(symlink("/dev/pts/does-not-exist", link.c_str()), 0);
    cfg_.port_number = 2;
    Device second(dir_.path(), cfg_);
    HostPort host;
    EXPECT_EQ(host.Open(link, 4800), "");
}

class DownloadTest : public DeviceTest {
protected:
    void SetUp() override {
        cfg_.start_mode = Mode::Download;
        Start();
        Connect(115200);
    }
};

TEST_F(DownloadTest, AnswersTheVersionAndIdentityQueries) {
    EXPECT_EQ(Ask("rvfw\r"), "\r\nOK!\r\n$3.14\r\nQV>>");
    EXPECT_EQ(Ask("rvdb\r"), "\r\nOK!\r\n$2025.01\r\nQV>>");
    EXPECT_EQ(Ask("rvvo\r\n"), "\r\nOK!\r\n$7\r\nQV>>");
    EXPECT_EQ(Ask("rimt\r"), "\r\nOK!\r\n$Z31S123\r\nQV>>");
    EXPECT_EQ(Ask("rsmt\r"), "\r\nOK!\r\n$SN-42\r\nQV>>");
    EXPECT_EQ(Ask("bogus\r"), "\r\nUnknown command\r\nQV>>");
    EXPECT_EQ(dev_->ReceivedCommands().size(), 6u);
}

TEST_F(DownloadTest, BytesSentJustBeforeAReopenAtAnotherSpeedAreHeardAtTheirOwn) {
    // Written at the command rate, then the port is reopened at the NMEA rate before the
    // device has read them: they were on the line at 115200 all the same. The host pauses after
    // setting a speed before it sends, as the library does.
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(host_.Write("qq\r\n"));
    Connect(4800);
    ASSERT_TRUE(WaitForMode(Mode::Normal));
    EXPECT_EQ(dev_->ReceivedCommands(), (std::vector<std::string>{"qq"}));
    EXPECT_FALSE(Sentences(host_.ReadFor(300ms)).empty());
}

TEST_F(DownloadTest, BytesSentAtTheWrongRateAreLost) {
    Connect(4800);
    ASSERT_TRUE(host_.Write("rvfw\r"));
    ASSERT_TRUE(WaitFor([&] { return dev_->DroppedBytes() == 5; }, kReply));
    EXPECT_EQ(host_.ReadFor(kQuiet), "");
    EXPECT_TRUE(dev_->ReceivedCommands().empty());
    Connect(115200);
    EXPECT_EQ(Ask("rsmt\r"), "\r\nOK!\r\n$SN-42\r\nQV>>");
    EXPECT_EQ(dev_->ReceivedBytes(), 10u);
    EXPECT_EQ(dev_->DroppedBytes(), 5u);
}

TEST_F(DownloadTest, SilentDeviceRecordsButNeverAnswers) {
    dev_->SetSilent(true);
    ASSERT_TRUE(host_.Write("rvfw\r"));
    ASSERT_TRUE(WaitFor([&] { return dev_->ReceivedCommands().size() == 1; }, kReply));
    EXPECT_EQ(host_.ReadFor(kQuiet), "");
    ASSERT_TRUE(host_.Write("qq\r"));  // not acted upon either
    ASSERT_TRUE(WaitFor([&] { return dev_->ReceivedCommands().size() == 2; }, kReply));
    EXPECT_EQ(dev_->CurrentMode(), Mode::Download);
    dev_->SetSilent(false);
    EXPECT_EQ(Ask("rvfw\r"), "\r\nOK!\r\n$3.14\r\nQV>>");
}

TEST_F(DownloadTest, NulBytesAreInsertedIntoReplies) {
    dev_->SetNulInReplies(true);
    EXPECT_EQ(Ask("rvfw\r"), std::string("\0\r\n\0OK!\r\n\0$3.14\r\n\0QV>>", 22));
}

TEST_F(DownloadTest, ReplyDelayHoldsTheAnswerBack) {
    dev_->SetReplyDelayMs(300);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Ask("rvfw\r"), "\r\nOK!\r\n$3.14\r\nQV>>");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);  // a lower bound only
}

TEST_F(DownloadTest, SplitReplyArrivesInPiecesButWhole) {
    dev_->SetSplitReply(3, 150);
    ASSERT_TRUE(host_.Write("rvfw\r"));
    std::string first;
    ASSERT_GT(host_.ReadOnce(&first, kReply), 0);
    EXPECT_LT(first.size(), 19u);
    EXPECT_EQ(first + host_.ReadUntil("QV>>", kReply), "\r\nOK!\r\n$3.14\r\nQV>>");
}

TEST_F(DownloadTest, RawReplyReplacesTheAnswerButKeepsTheEffect) {
    dev_->SetNulInReplies(true);  // raw bytes are sent as given
    dev_->SetRawReply("rvfw", "$9\r\nOK!\r\nQV>>");
    EXPECT_EQ(Ask("rvfw\r"), "$9\r\nOK!\r\nQV>>");
    const std::string big = "\r\nOK!\r\n$" + std::string(2000, 'v') + "\r\nQV>>";
    dev_->SetRawReply("rimt", big);
    EXPECT_EQ(Ask("rimt\r"), big);
    dev_->ClearRawReplies();
    EXPECT_EQ(Ask("rvfw\r"), std::string("\0\r\n\0OK!\r\n\0$3.14\r\n\0QV>>", 22));
    dev_->SetRawReply("qq", "bye");
    ASSERT_TRUE(host_.Write("qq\r"));
    EXPECT_TRUE(WaitForMode(Mode::Normal));
}

// What the device answered during a file write and after its stream.
struct WriteReplies {
    std::string during;  // to the command, the "y" and each block
    std::string after;   // after the last block, up to the prompt
};

// A file write as the host makes it: the command, "y", then 4096-byte blocks each followed by a
// 100 ms read.
WriteReplies WriteImage(HostPort& host, const std::string& command, const std::string& image) {
    WriteReplies got;
    EXPECT_TRUE(host.Write(command));
    got.during += host.ReadFor(100ms);
    EXPECT_TRUE(host.Write("y"));
    got.during += host.ReadFor(100ms);
    for (std::size_t at = 0; at < image.size(); at += 4096) {
        EXPECT_TRUE(host.WriteAll(std::string_view(image).substr(at, 4096), kReply));
        got.during += host.ReadFor(100ms);
    }
    // The device ends the stream after its silence time, then judges it.
    got.after = host.ReadUntil("QV>>", milliseconds(kImageEndSilenceMs) + kReply);
    return got;
}

std::string Pattern(std::size_t size) {
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i) bytes.push_back(static_cast<char>(i * 31 % 251));
    return bytes;
}

TEST_F(DownloadTest, ImageArrivesByteForByteAtTheLineRate) {
    const std::string image = Pattern(10000);  // 4096, 4096 and 1808 bytes
    const auto start = std::chrono::steady_clock::now();
    const WriteReplies got = WriteImage(host_, "wd\r", image);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(got.after, "\r\nWriteSucceed!\r\nQV>>");
    EXPECT_EQ(dev_->ReceivedImage(Area::Database), image);
    EXPECT_EQ(dev_->CompletedImages(Area::Database), 1);
    EXPECT_EQ(dev_->ReceivedCommands(), (std::vector<std::string>{"wd", "y"}));
    // 10000 bytes take 868 ms on a 115200 line; the verdict follows the silence after them.
    EXPECT_GE(took, 860ms + milliseconds(kImageEndSilenceMs));
}

TEST_F(DownloadTest, UnpacedReceptionTakesTheImageAtOnce) {
    dev_->SetPacedReception(false);
    const std::string image = Pattern(3 * 4096);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(host_.Write("wb\r"));
    ASSERT_TRUE(host_.ReadUntil("(y/n)", kReply).ends_with("(y/n)"));
    ASSERT_TRUE(host_.Write("y"));
    ASSERT_TRUE(host_.WriteAll(image, kReply));
    ASSERT_TRUE(WaitFor([&] { return dev_->ReceivedImage(Area::Firmware).size() == image.size(); },
                        kReply));
    // Paced, 12288 bytes would take 1067 ms.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_EQ(dev_->ReceivedImage(Area::Firmware), image);
}

TEST_F(DownloadTest, VerdictDuringTheStreamReachesTheHostBeforeTheEnd) {
    // Unpaced, the device takes each block as the host writes it, as a host whose writes block
    // until the line has carried them sees it: the verdict comes while blocks remain to be sent.
    dev_->SetPacedReception(false);
    dev_->SetWriteVerdict(WriteVerdict::CheckSumErr);
    dev_->SetVerdictDuringStream(true);
    const WriteReplies got = WriteImage(host_, "wv\r", Pattern(3 * 4096));
    EXPECT_NE(got.during.find("\r\nCheckSumErr*"), std::string::npos) << got.during;
    EXPECT_EQ(got.after, "\r\nQV>>");
    EXPECT_EQ(dev_->ReceivedImage(Area::Voice), Pattern(3 * 4096));
}

TEST_F(DownloadTest, ErasesAndTheSerialNumberStoreAnswerOverTheLine) {
    ASSERT_TRUE(host_.Write("ep\r"));
    ASSERT_TRUE(host_.ReadUntil(")", kReply).ends_with("/n)"));
    ASSERT_TRUE(host_.Write("b"));
    EXPECT_NE(Ask("").find("Completed!"), std::string::npos);
    ASSERT_TRUE(host_.Write("wsmt\r"));
    ASSERT_TRUE(host_.Write("y"));
    ASSERT_TRUE(host_.Write("SN-43\r"));
    EXPECT_NE(host_.ReadUntil("!\r\nQV>>", kReply).find("EraseFirst!"), std::string::npos);
    ASSERT_TRUE(host_.Write("esmt\r"));
    ASSERT_TRUE(host_.Write("y"));
    EXPECT_NE(Ask("").find("Completed!"), std::string::npos);
    EXPECT_EQ(dev_->StoredSerialNumber(), "");
    EXPECT_EQ(dev_->ReceivedCommands(),
              (std::vector<std::string>{"ep", "b", "wsmt", "y", "SN-43", "esmt", "y"}));
    dev_->SetEraseAnswers(false);
    ASSERT_TRUE(host_.Write("ed\r"));
    ASSERT_TRUE(host_.ReadUntil(")", kReply).ends_with("/n)"));
    ASSERT_TRUE(host_.Write("y"));
    EXPECT_EQ(host_.ReadFor(kQuiet), "");
}

TEST_F(DownloadTest, QcRepliesArriveWhole) {
    ASSERT_TRUE(host_.Write("$qcresult\r\n"));
    const std::string result = host_.ReadUntil("QV>>", kReply);
    EXPECT_GE(result.size(), 512u);
    EXPECT_NE(result.find("$PASS"), std::string::npos);
    dev_->SetQcViewEndMarker(false);
    const std::string view = Ask("$viewqc\r");
    EXPECT_NE(view.find("$GPSRESULT"), std::string::npos);
    EXPECT_EQ(view.find("END\r\n"), std::string::npos);
}

TEST_F(DownloadTest, UserPointsWrittenThenReadBackOverTheLine) {
    dev_->SetPacedReception(false);
    const std::vector<UserPoint> points = SampleUserPoints(100);
    std::string lines;
    for (std::size_t i = 0; i < points.size(); ++i) {
        char head[16];
        std::snprintf(head, sizeof head, "$%04u*", static_cast<unsigned>(i % 10000));
        lines += head;
        for (const std::uint16_t word : points[i]) {
            char text[8];
            std::snprintf(text, sizeof text, "%04X ", word);
            lines += text;
        }
        lines += "\r\n";
    }
    ASSERT_TRUE(host_.Write("wu\r"));
    ASSERT_TRUE(host_.Write("y"));
    ASSERT_TRUE(host_.WriteAll(lines + "$9999*\r", kReply));  // the end line without LF
    EXPECT_NE(host_.ReadUntil("QV>>", kReply).find("WriteSucceed!"), std::string::npos);
    EXPECT_EQ(dev_->StoredUserPoints(), points);

    ASSERT_TRUE(host_.Write("ru\ry"));
    // 6.5 KB: at 115200 baud a little over half a second on the wire.
    const auto start = std::chrono::steady_clock::now();
    const std::string got = host_.ReadUntil("Completed!\r\nQV>>", kReply);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms);
    EXPECT_EQ(got, "\r\n" + lines + "$9999*\r\nCompleted!\r\nQV>>");

    // 400 records, 25 KB, more than a host's reply buffer: all of it reaches a host that keeps
    // reading, in about 2.2 s.
    dev_->SetStoredUserPoints(SampleUserPoints(400));
    ASSERT_TRUE(host_.Write("ru\ry"));
    const std::string all = host_.ReadUntil("Completed!\r\nQV>>", 2 * kReply);
    EXPECT_EQ(all.size(), 2 + 400 * 63 + 8 + 12 + 4);
    EXPECT_NE(all.find("$0399*"), std::string::npos);
    EXPECT_EQ(dev_->LostSentBytes(), 0u);
}

TEST_F(DownloadTest, SettingsWriteIsAnsweredWithinTheHostsOneRead) {
    Settings words = kDefaultSettings;
    words[0] = 0x0078;
    std::string line = "$0000*";
    for (const std::uint16_t word : words) {
        char text[8];
        std::snprintf(text, sizeof text, "%04X ", word);
        line += text;
    }
    ASSERT_TRUE(host_.Write("wa\r"));
    ASSERT_TRUE(host_.Write("y"));
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(host_.Write(line + "\r\n$9999*\r\n"));
    std::this_thread::sleep_for(100ms);
    std::string answer;
    ASSERT_GT(host_.ReadOnce(&answer, 100ms), 0);
    EXPECT_EQ(answer, "\r\nWriteSucceed!\r\nQV>>");
    EXPECT_EQ(dev_->StoredSettings(), words);
    ASSERT_TRUE(host_.Write("ra\r"));
    ASSERT_TRUE(host_.Write("y"));
    std::string got;  // the whole answer in the host's one read
    ASSERT_GT(host_.ReadOnce(&got, 1000ms), 0);
    EXPECT_NE(got.find(line + "\r\n$9999*\r\nCompleted!"), std::string::npos) << got;
    EXPECT_LT(got.size(), 1024u);
}

// A model whose command rate is neither of the bootloader's speeds.
class BootloaderTest : public DeviceTest {
protected:
    void SetUp() override {
        cfg_.start_mode = Mode::Download;
        cfg_.command_baud = 57600;
        Start();
    }
};

TEST_F(BootloaderTest, StartIsHeardAt9600AndTheImageAt115200ThenThePrompt) {
    const std::string image = Pattern(5000);
    Connect(57600);  // at the command rate the start command is just an unknown command
    EXPECT_NE(Ask("_D Y B01A 000F\r").find("Unknown command"), std::string::npos);
    Connect(9600);
    ASSERT_TRUE(host_.Write("_D Y B01A 000F\r"));
    ASSERT_TRUE(WaitFor([&] { return dev_->ReceivedCommands().size() == 2; }, kReply));
    Connect(115200);
    ASSERT_TRUE(host_.WriteAll(image, kReply));
    EXPECT_EQ(host_.ReadUntil("QV>>", kReply + milliseconds(kImageEndSilenceMs)), "\r\nQV>>");
    EXPECT_EQ(dev_->ReceivedImage(Area::Bootloader), image);
    EXPECT_EQ(dev_->CompletedImages(Area::Bootloader), 1);
    EXPECT_EQ(dev_->CurrentMode(), Mode::Download);
    EXPECT_EQ(dev_->DroppedBytes(), 0u);
    Connect(57600);  // back at the model's command rate
    EXPECT_EQ(Ask("\r"), "\r\nQV>>");
}

TEST_F(BootloaderTest, ImageAtAnotherSpeedIsLost) {
    Connect(9600);
    ASSERT_TRUE(host_.Write("_D Y B01A 000F\r"));
    ASSERT_TRUE(WaitFor([&] { return !dev_->ReceivedCommands().empty(); }, kReply));
    ASSERT_TRUE(host_.WriteAll(Pattern(100), kReply));  // still at 9600
    EXPECT_TRUE(WaitFor([&] { return dev_->DroppedBytes() == 100; }, kReply));
    EXPECT_EQ(host_.ReadFor(milliseconds(kImageEndSilenceMs) + kQuiet), "");  // prompt at 115200
    EXPECT_EQ(dev_->ReceivedImage(Area::Bootloader), "");
}

TEST_F(DownloadTest, BadKnobValuesAreRefused) {
    EXPECT_THROW(dev_->SetReplyDelayMs(-1), std::invalid_argument);
    EXPECT_THROW(dev_->SetSplitReply(0, 10), std::invalid_argument);
    EXPECT_THROW(dev_->SetSplitReply(2, -1), std::invalid_argument);
    EXPECT_THROW(dev_->SetSettingsLineLength(78), std::invalid_argument);
    EXPECT_THROW(dev_->SetSettingsLineLength(82), std::invalid_argument);
    EXPECT_THROW(dev_->SetInvalidUserPoints(-1), std::invalid_argument);
    EXPECT_THROW(dev_->SetStoredUserPoints(SampleUserPoints(kMaxUserPoints + 1)),
                 std::invalid_argument);
}

}  // namespace
}  // namespace z31sim
