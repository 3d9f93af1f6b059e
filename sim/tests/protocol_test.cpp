// The protocol logic without a pty: line framing, command table, reply shaping, send queue.
#include "sim/protocol.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "sim/line_assembler.h"
#include "sim/pacer.h"
#include "sim/reply_faults.h"
#include "sim/tx_queue.h"

namespace z31sim {
namespace {

std::vector<std::string> Lines(LineAssembler& a, std::string_view bytes) {
    std::vector<std::string> out;
    for (const char c : bytes) {
        if (auto line = a.Push(c)) out.push_back(*line);
    }
    return out;
}

TEST(LineAssemblerTest, CrEndsALineAndAFollowingLfIsSkippedEvenWhenLate) {
    LineAssembler a;
    EXPECT_EQ(Lines(a, "rvfw\rrvdb\r"), (std::vector<std::string>{"rvfw", "rvdb"}));
    EXPECT_EQ(Lines(a, "qq\r"), (std::vector<std::string>{"qq"}));
    EXPECT_TRUE(Lines(a, "\n").empty());  // the LF of "qq\r\n", arriving in a later read
    EXPECT_EQ(Lines(a, "\r\n\r"), (std::vector<std::string>{"", ""}));
}

TEST(LineAssemblerTest, OverlongLineIsTruncatedNotGrown) {
    LineAssembler a;
    const auto lines = Lines(a, std::string(3 * LineAssembler::kMaxLine, 'x') + "\rrvfw\r");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), LineAssembler::kMaxLine);
    EXPECT_EQ(lines[1], "rvfw");
}

class ProtocolTest : public ::testing::Test {
protected:
    ProtocolTest() {
        cfg_.fw_version = "FW1";
        cfg_.db_version = "DB2";
        cfg_.voc_version = "VO3";
        cfg_.device_id = "Z31S999";
        cfg_.serial_number = "SN4";
    }
    DeviceConfig cfg_;
};

TEST_F(ProtocolTest, NormalModeIgnoresAllButDnmode) {
    Protocol p(cfg_);
    EXPECT_EQ(p.LineBaud(), 4800);
    EXPECT_EQ(p.Execute("rvfw"), "");
    EXPECT_EQ(p.Execute(""), "");
    EXPECT_EQ(p.Execute("qq"), "");
    EXPECT_EQ(p.mode(), Mode::Normal);
    EXPECT_EQ(p.Execute("$dnmod"), "");
    EXPECT_EQ(p.mode(), Mode::Normal);
}

TEST_F(ProtocolTest, DnmodeEntersDownloadAtCommandRateEvenAfterNoise) {
    Protocol p(cfg_);
    EXPECT_EQ(p.Execute("\x01garbage$dnmode"), "QV>>");
    EXPECT_EQ(p.mode(), Mode::Download);
    EXPECT_EQ(p.LineBaud(), 115200);
}

TEST_F(ProtocolTest, DownloadModeAnswersQueriesWithConfiguredValues) {
    cfg_.start_mode = Mode::Download;
    Protocol p(cfg_);
    EXPECT_EQ(p.Execute("rvfw"), "\r\nOK!\r\n$FW1\r\nQV>>");
    EXPECT_EQ(p.Execute("rvdb"), "\r\nOK!\r\n$DB2\r\nQV>>");
    EXPECT_EQ(p.Execute("rvvo"), "\r\nOK!\r\n$VO3\r\nQV>>");
    EXPECT_EQ(p.Execute("rimt"), "\r\nOK!\r\n$Z31S999\r\nQV>>");
    EXPECT_EQ(p.Execute("rsmt"), "\r\nOK!\r\n$SN4\r\nQV>>");
    EXPECT_EQ(p.Execute(""), "\r\nQV>>");
    EXPECT_EQ(p.Execute("RVFW"), "\r\nUnknown command\r\nQV>>");
    EXPECT_EQ(p.Execute("$dnmode"), "\r\nUnknown command\r\nQV>>");
    EXPECT_EQ(p.Execute("rvfw "), "\r\nUnknown command\r\nQV>>");
    EXPECT_EQ(p.mode(), Mode::Download);
    EXPECT_EQ(p.Execute("qq"), "");  // back to normal without a word
    EXPECT_EQ(p.mode(), Mode::Normal);
    EXPECT_EQ(p.LineBaud(), 4800);
}

TEST(ReplyFaultsTest, NulsGoAtStartAndBeforeEachMarker) {
    EXPECT_EQ(InsertNuls("\r\nOK!\r\n$v1\r\nQV>>"),
              std::string("\0\r\n\0OK!\r\n\0$v1\r\n\0QV>>", 20));
    EXPECT_EQ(InsertNuls(""), std::string(1, '\0'));
}

TEST(ReplyFaultsTest, SplitKeepsEveryByteInOrder) {
    const std::string reply = "\r\nOK!\r\n$1.20\r\nQV>>";
    for (int pieces : {1, 2, 3, 7, 100}) {
        const auto parts = SplitReply(reply, pieces);
        EXPECT_EQ(parts.size(), std::min<std::size_t>(pieces, reply.size()));
        std::string joined;
        for (const auto& part : parts) {
            EXPECT_FALSE(part.empty());
            joined += part;
        }
        EXPECT_EQ(joined, reply);
    }
    EXPECT_TRUE(SplitReply("", 3).empty());
    EXPECT_EQ(SplitReply("ab", 0).size(), 1u);
}

TEST(TxQueueTest, LaterChunksNeverOvertakeEarlierOnes) {
    const auto t0 = Clock::now();
    using std::chrono::milliseconds;
    TxQueue q;
    q.Schedule(t0 + milliseconds(100), {"a", "b"}, milliseconds(50), 115200);
    q.Schedule(t0, {"nmea"}, milliseconds(0), 4800);  // due earlier, queued later
    EXPECT_EQ(q.NextDue(), t0 + milliseconds(100));
    EXPECT_FALSE(q.PopDue(t0 + milliseconds(99)));
    auto a = q.PopDue(t0 + milliseconds(100));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->bytes, "a");
    EXPECT_FALSE(q.PopDue(t0 + milliseconds(149)));
    auto b = q.PopDue(t0 + milliseconds(150));
    auto c = q.PopDue(t0 + milliseconds(150));
    ASSERT_TRUE(b && c);
    EXPECT_EQ(b->bytes, "b");
    EXPECT_EQ(c->bytes, "nmea");
    EXPECT_EQ(c->baud, 4800);
    EXPECT_TRUE(q.empty());
}

// A device in download mode, driven one command at a time as the device thread does it.
class DownloadProtocolTest : public ProtocolTest {
protected:
    DownloadProtocolTest() : p_(Configured()) {}
    DeviceConfig Configured() {
        cfg_.start_mode = Mode::Download;
        return cfg_;
    }
    // Sends a command line and its one-byte confirmation; returns both answers.
    std::string Confirmed(const std::string& command, char answer) {
        std::string out = p_.Execute(command);
        EXPECT_EQ(p_.Expects(), Protocol::Input::Confirmation) << command;
        return out + p_.Confirm(answer);
    }
    // "wsmt", "y", then the serial number line; returns the three answers.
    std::string WriteSerial(const std::string& serial) {
        std::string out = Confirmed("wsmt", 'y');
        return out + p_.Execute(serial);
    }
    bool Has(const std::string& text, std::string_view marker) {
        return text.find(marker) != std::string::npos;
    }

    Protocol p_;
};

TEST_F(DownloadProtocolTest, ErasesCompleteOnlyWhenConfirmed) {
    for (const char* command : {"ep", "ed", "ev", "ef", "esmt"}) {
        const std::string out = Confirmed(command, 'y');
        EXPECT_TRUE(Has(out, "Completed!")) << command;
        EXPECT_TRUE(out.ends_with("QV>>")) << command;
        EXPECT_EQ(p_.Expects(), Protocol::Input::Line);
    }
    EXPECT_TRUE(Has(Confirmed("ep", 'b'), "bootloader...\r\nCompleted!"));
    EXPECT_FALSE(Has(Confirmed("ed", 'b'), "Completed!"));  // "b" is for "ep" only
    EXPECT_FALSE(Has(Confirmed("ev", 'n'), "Completed!"));
    EXPECT_EQ(p_.Expects(), Protocol::Input::Line);
}

TEST_F(DownloadProtocolTest, ConfirmationWaitsPastTheLineEnding) {
    p_.Execute("ef");
    EXPECT_EQ(p_.Confirm('\n'), "");
    EXPECT_EQ(p_.Confirm('\r'), "");
    EXPECT_EQ(p_.Expects(), Protocol::Input::Confirmation);
    EXPECT_TRUE(Has(p_.Confirm('y'), "Completed!"));
}

TEST_F(DownloadProtocolTest, EraseWithoutAnswerErasesNothing) {
    p_.knobs().erase_answers = false;
    EXPECT_EQ(p_.Confirm('y'), "");  // no question asked: nothing to confirm
    const std::string out = Confirmed("esmt", 'y');
    EXPECT_FALSE(Has(out, "Completed!"));
    EXPECT_EQ(p_.SerialNumber(), "SN4");
    EXPECT_EQ(p_.Expects(), Protocol::Input::Line);
}

TEST_F(DownloadProtocolTest, SerialNumberIsStoredOnlyOnceErased) {
    EXPECT_TRUE(Has(WriteSerial("SN777"), "EraseFirst!"));
    EXPECT_EQ(p_.SerialNumber(), "SN4");
    Confirmed("esmt", 'y');
    EXPECT_EQ(p_.SerialNumber(), "");
    EXPECT_EQ(p_.Execute("rsmt"), "\r\nOK!\r\n$\r\nQV>>");
    const std::string stored = WriteSerial("SN777");
    EXPECT_TRUE(Has(stored, "Completed!"));
    EXPECT_FALSE(Has(stored, "EraseFirst!"));
    EXPECT_EQ(p_.Execute("rsmt"), "\r\nOK!\r\n$SN777\r\nQV>>");
    EXPECT_TRUE(Has(WriteSerial("SN888"), "EraseFirst!"));
    EXPECT_EQ(p_.SerialNumber(), "SN777");
    // Declined: the next line is a command again, not a serial number.
    Confirmed("wsmt", 'n');
    EXPECT_EQ(p_.Execute("rvfw"), "\r\nOK!\r\n$FW1\r\nQV>>");
}

TEST_F(DownloadProtocolTest, ImageIsKeptByteForByteAndJudgedAtTheEnd) {
    const std::pair<const char*, Area> kWrites[] = {
        {"wb", Area::Firmware}, {"wd", Area::Database}, {"wv", Area::Voice}};
    std::string image;
    for (int i = 0; i < 10000; ++i) image.push_back(static_cast<char>(i * 7 % 256));
    for (const auto& [command, area] : kWrites) {
        EXPECT_TRUE(Has(Confirmed(command, 'y'), "Ready"));
        ASSERT_EQ(p_.Expects(), Protocol::Input::Image);
        // "\r", NUL and "y" inside the image are data, not commands.
        EXPECT_EQ(p_.ReceiveImage(image.substr(0, 4096)), "");
        EXPECT_EQ(p_.ReceiveImage(image.substr(4096, 4096)), "");
        EXPECT_EQ(p_.ReceiveImage(image.substr(8192)), "");
        EXPECT_EQ(p_.Image(area), image);
        const Protocol::Output end = p_.EndImage();
        EXPECT_EQ(end.bytes, "\r\nWriteSucceed!\r\nQV>>");
        EXPECT_EQ(end.baud, 115200);
        EXPECT_EQ(p_.CompletedImages(area), 1);
        EXPECT_EQ(p_.Expects(), Protocol::Input::Line);
    }
    // A new write to an area replaces what it held.
    Confirmed("wd", 'y');
    p_.ReceiveImage("abc");
    p_.EndImage();
    EXPECT_EQ(p_.Image(Area::Database), "abc");
    EXPECT_EQ(p_.Image(Area::Firmware), image);
}

TEST_F(DownloadProtocolTest, EachVerdictIsSentAsChosen) {
    const std::pair<WriteVerdict, const char*> kVerdicts[] = {
        {WriteVerdict::Fail, "\r\nWriteFail*\r\nQV>>"},
        {WriteVerdict::CheckSumErr, "\r\nCheckSumErr*\r\nQV>>"},
        {WriteVerdict::ErrorInFormat, "\r\nErrorInFormat*\r\nQV>>"},
        {WriteVerdict::IdMismatch, "\r\nID Mismatch*\r\nQV>>"},
        {WriteVerdict::None, "\r\nQV>>"},
    };
    for (const auto& [verdict, reply] : kVerdicts) {
        p_.knobs().verdict = verdict;
        Confirmed("wb", 'y');
        EXPECT_EQ(p_.EndImage().bytes, reply);  // an empty image is judged too
    }
}

TEST_F(DownloadProtocolTest, VerdictDuringTheStreamComesOnceAfterTheFirstBlock) {
    p_.knobs().verdict_during_stream = true;
    Confirmed("wb", 'y');
    EXPECT_EQ(p_.ReceiveImage(std::string(4095, 'a')), "");
    EXPECT_EQ(p_.ReceiveImage("bc"), "\r\nWriteSucceed!");
    EXPECT_EQ(p_.ReceiveImage(std::string(5000, 'd')), "");
    EXPECT_EQ(p_.EndImage().bytes, "\r\nQV>>");
    EXPECT_EQ(p_.Image(Area::Firmware).size(), 9097u);
    // An image shorter than a block gets its verdict at the end.
    Confirmed("wv", 'y');
    p_.ReceiveImage("short");
    EXPECT_EQ(p_.EndImage().bytes, "\r\nWriteSucceed!\r\nQV>>");
}

TEST_F(DownloadProtocolTest, DeclinedWriteReceivesNothing) {
    Confirmed("wb", 'n');
    EXPECT_EQ(p_.Expects(), Protocol::Input::Line);
    EXPECT_EQ(p_.CompletedImages(Area::Firmware), 0);
    EXPECT_EQ(p_.Execute("rvfw"), "\r\nOK!\r\n$FW1\r\nQV>>");
}

TEST_F(DownloadProtocolTest, BootloaderStartsAt9600AndReceivesAt115200) {
    cfg_.command_baud = 57600;
    Protocol p(cfg_);
    EXPECT_FALSE(p.HearAtBootRate("_D Y B01A 000"));
    EXPECT_TRUE(p.HearAtBootRate("_D Y B01A 000F"));
    EXPECT_EQ(p.Expects(), Protocol::Input::Image);
    EXPECT_EQ(p.LineBaud(), 115200);
    EXPECT_FALSE(p.HearAtBootRate("_D Y B01A 000F"));  // inside the image: data
    p.ReceiveImage(std::string(4096, 'B'));
    const Protocol::Output end = p.EndImage();
    EXPECT_EQ(end.bytes, "\r\nQV>>");
    EXPECT_EQ(end.baud, 115200);  // the prompt at the bootloader's speed, not the command rate
    EXPECT_EQ(p.mode(), Mode::Download);
    EXPECT_EQ(p.LineBaud(), 57600);
    EXPECT_EQ(p.Image(Area::Bootloader), std::string(4096, 'B'));
    // A failed bootloader shows no prompt.
    p.knobs().verdict = WriteVerdict::CheckSumErr;
    p.HearAtBootRate("_D Y B01A 000F");
    EXPECT_EQ(p.EndImage().bytes, "");
}

TEST_F(ProtocolTest, BootloaderStartIsACommandLineOnlyWhenTheLineRunsAt9600) {
    cfg_.nmea_baud = 9600;
    Protocol at9600(cfg_);
    EXPECT_EQ(at9600.Execute("_D Y B01A 000F"), "");
    EXPECT_EQ(at9600.Expects(), Protocol::Input::Image);
    cfg_.nmea_baud = 4800;
    Protocol at4800(cfg_);
    at4800.Execute("_D Y B01A 000F");
    EXPECT_EQ(at4800.Expects(), Protocol::Input::Line);
}

TEST_F(DownloadProtocolTest, QcViewReportRunsFromStartToEndMarker) {
    const std::string report = p_.Execute("$viewqc");
    const auto start = report.find("$GPSRESULT");
    ASSERT_NE(start, std::string::npos);
    EXPECT_NE(report.find("END\r\n", start), std::string::npos);
    EXPECT_TRUE(report.ends_with("QV>>"));
    p_.knobs().qc_end_marker = false;
    EXPECT_EQ(p_.Execute("$viewqc").find("END\r\n"), std::string::npos);
}

TEST_F(DownloadProtocolTest, QcResultHoldsItsVerdictWithinTheFirst512Bytes) {
    const std::pair<QcVerdict, std::string_view> kVerdicts[] = {
        {QcVerdict::Pass, "$PASS"}, {QcVerdict::Fail, "$FAIL"}, {QcVerdict::NotDone, "$NOTDONE"}};
    for (const auto& [verdict, marker] : kVerdicts) {
        p_.knobs().qc_verdict = verdict;
        const std::string reply = p_.Execute("$qcresult");
        EXPECT_GE(reply.size(), 512u);
        EXPECT_LE(reply.size(), 1024u);  // fits the host's reply buffer
        EXPECT_LT(reply.find(marker), 512u - marker.size());
    }
    p_.knobs().qc_short = true;
    const std::string short_reply = p_.Execute("$qcresult");
    EXPECT_LT(short_reply.size(), 512u);
    EXPECT_TRUE(Has(short_reply, "$NOTDONE"));
    p_.knobs().qc_verdict = QcVerdict::None;
    p_.knobs().qc_short = false;
    const std::string none = p_.Execute("$qcresult");
    EXPECT_GE(none.size(), 512u);
    for (const char* marker : {"$PASS", "$FAIL", "$NOTDONE"}) EXPECT_FALSE(Has(none, marker));
}

TEST_F(DownloadProtocolTest, QuitCanBeIgnored) {
    p_.knobs().quit_ignored = true;
    EXPECT_EQ(p_.Execute("qq"), "\r\nQV>>");
    EXPECT_EQ(p_.mode(), Mode::Download);
}

// The settings and user point stores, read with "ra"/"ru" and written with "wa"/"wu".
class StoreProtocolTest : public DownloadProtocolTest {
protected:
    // A write: the command, "y", then `lines` as the device thread hands them over.
    std::string Write(const std::string& command, const std::vector<std::string>& lines) {
        std::string out = Confirmed(command, 'y');
        for (const std::string& line : lines) {
            EXPECT_EQ(p_.Expects(), Protocol::Input::Line);
            out += p_.Execute(line);
        }
        return out;
    }
    static std::string SettingsLine(const Settings& words) {
        std::string line = "$0000*";
        char word[8];
        for (const std::uint16_t w : words) {
            std::snprintf(word, sizeof word, "%04X ", w);
            line += word;
        }
        return line;
    }

    static constexpr UserPoint kA = {0x0A01, 0x0000, 0x1234, 0xABCD, 0x0001, 0xFFFF,
                                     0x0050, 0x0002, 0x0003, 0x0004, 0x0005};
    static constexpr UserPoint kB = {0x03FC, 0xB800, 0x0002, 0x0000, 0x00B0, 0x0C0D,
                                     0x0000, 0x0000, 0x0000, 0x0000, 0xFFFF};
    static constexpr const char* kLineA =
        "$0000*0A01 0000 1234 ABCD 0001 FFFF 0050 0002 0003 0004 0005 \r\n";
    static constexpr const char* kLineB =
        "$0001*03FC B800 0002 0000 00B0 0C0D 0000 0000 0000 0000 FFFF \r\n";
};

TEST_F(StoreProtocolTest, SettingsReadSendsTheDefaultsByteForByte) {
    const std::string words =
        "0050 0064 FFFF FFFF FFFF FFFF FFFF FFFF 0014 FED4 0000 FFFF FFFF FFFF 0001 0000 ";
    ASSERT_EQ(words.size(), 80u);
    EXPECT_EQ(Confirmed("ra", 'y'), "\r\n$0000*" + words + "\r\n$9999*\r\nCompleted!\r\nQV>>");
    EXPECT_EQ(p_.Expects(), Protocol::Input::Line);
    EXPECT_TRUE(Has(Confirmed("ra", 'n'), "Cancelled"));
}

TEST_F(StoreProtocolTest, SettingsReadKnobs) {
    p_.knobs().settings_line_length = 79;
    std::string out = Confirmed("ra", 'y');
    EXPECT_TRUE(Has(out, "0001 0000\r\n$9999*")) << out;
    p_.knobs().settings_line_length = 81;
    out = Confirmed("ra", 'y');
    EXPECT_TRUE(Has(out, "0001 0000  \r\n$9999*")) << out;
    p_.knobs().settings_line_length = 80;
    p_.knobs().read_completed = false;
    out = Confirmed("ra", 'y');
    EXPECT_TRUE(out.ends_with("0000 \r\n$9999*\r\nQV>>")) << out;
    EXPECT_FALSE(Has(out, "Completed!"));
}

TEST_F(StoreProtocolTest, SettingsWriteIsStoredAndReadBack) {
    Settings words{};
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<std::uint16_t>(i * 0x1111);
    words[15] = 0xabcd;
    const std::string line = SettingsLine(words);
    ASSERT_EQ(line.size(), 86u);
    EXPECT_EQ(Write("wa", {line}), "");
    EXPECT_EQ(p_.StoredSettings(), kDefaultSettings);  // not before the end line
    EXPECT_EQ(p_.Execute("$9999*"), "\r\nWriteSucceed!\r\nQV>>");
    EXPECT_EQ(p_.StoredSettings(), words);
    EXPECT_TRUE(Has(Confirmed("ra", 'y'), "\r\n" + line + "\r\n$9999*\r\n"));
    // Lowercase digits are taken too.
    std::string lower = line;
    lower[6] = 'f';
    EXPECT_TRUE(Has(Write("wa", {lower, "$9999*"}), "WriteSucceed!"));
    EXPECT_EQ(p_.StoredSettings()[0], 0xF000);
}

TEST_F(StoreProtocolTest, MalformedSettingsWriteFailsAndStoresNothing) {
    const std::string good = SettingsLine(kDefaultSettings);
    std::string bad_digit = SettingsLine({0x1111});
    bad_digit[6 + 5 * 7 + 2] = 'G';
    std::string no_space = SettingsLine({0x1111});
    no_space[6 + 5 * 3 + 4] = '0';
    const std::vector<std::vector<std::string>> bad = {
        {SettingsLine({0x1111}).substr(0, 85), "$9999*"},  // 79 characters
        {SettingsLine({0x1111}) + " ", "$9999*"},          // 81
        {bad_digit, "$9999*"},
        {no_space, "$9999*"},
        {"$0001*" + SettingsLine({0x1111}).substr(6), "$9999*"},
        {"$9999*"},  // no settings line at all
        {good, "$00", "$9999*"},
    };
    for (const auto& lines : bad) {
        EXPECT_TRUE(Write("wa", lines).ends_with("\r\nWriteFail*\r\nQV>>")) << lines[0];
        EXPECT_EQ(p_.StoredSettings(), kDefaultSettings) << lines[0];
        EXPECT_EQ(p_.Expects(), Protocol::Input::Line);
        EXPECT_EQ(p_.Execute("rvfw"), "\r\nOK!\r\n$FW1\r\nQV>>");  // back to commands
    }
}

TEST_F(StoreProtocolTest, WriteAbandonedForACommandFailsAndRunsTheCommand) {
    const std::string out = Write("wu", {std::string(kLineA, 61), "rvfw"});
    EXPECT_EQ(out, "\r\nWriteFail*\r\nQV>>\r\nOK!\r\n$FW1\r\nQV>>");
    EXPECT_TRUE(p_.StoredUserPoints().empty());
}

TEST_F(StoreProtocolTest, WriteWithoutAnswerStoresNothing) {
    p_.knobs().write_answers = false;
    EXPECT_EQ(Write("wa", {SettingsLine({1}), "$9999*"}), "");
    EXPECT_EQ(Write("wu", {std::string(kLineA, 61), "$9999*"}), "");
    EXPECT_EQ(p_.StoredSettings(), kDefaultSettings);
    EXPECT_TRUE(p_.StoredUserPoints().empty());
}

TEST_F(StoreProtocolTest, UserPointReadSendsEachRecordNumbered) {
    EXPECT_EQ(Confirmed("ru", 'y'),
              "\r\n$9999*\r\nCompleted!\r\nQV>>");  // none stored
    p_.SetStoredUserPoints({kA, kB});
    const std::string out = Confirmed("ru", 'y');
    EXPECT_EQ(out, std::string("\r\n") + kLineA + kLineB + "$9999*\r\nCompleted!\r\nQV>>");
    EXPECT_EQ(std::string(kLineA).size(), 63u);
}

TEST_F(StoreProtocolTest, UserPointWriteReplacesTheStore) {
    p_.SetStoredUserPoints(SampleUserPoints(5));
    const UserPoint c = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xFFFF};
    // Line numbers are not checked; the host's LF after each CR never reaches the protocol.
    const std::string out =
        Write("wu", {std::string(kLineA, 61), std::string(kLineB, 61),
                     "$0002*0001 0002 0003 0004 0005 0006 0007 0008 0009 000A ffff", "$9999*"});
    EXPECT_TRUE(out.ends_with("\r\nWriteSucceed!\r\nQV>>")) << out;
    EXPECT_EQ(p_.StoredUserPoints(), (std::vector<UserPoint>{kA, kB, c}));
    // An empty write empties the store.
    EXPECT_TRUE(Has(Write("wu", {"$9999*"}), "WriteSucceed!"));
    EXPECT_TRUE(p_.StoredUserPoints().empty());
}

TEST_F(StoreProtocolTest, MalformedUserPointLineFailsTheWholeWrite) {
    p_.SetStoredUserPoints({kA});
    const std::string good(kLineB, 61);
    for (const std::string& line : {
             good.substr(0, 56),                          // 10 words
             "$00X1*" + good.substr(6),                   // not a line number
             "$*" + good.substr(6),                       // no line number
             "$0001" + good.substr(6),                    // no "*"
             good.substr(0, 21) + "G" + good.substr(22),  // not hex
             good.substr(0, 15) + "," + good.substr(16),  // not a space between words
             good + " 0001",                              // 12 words
         }) {
        const std::string out = Write("wu", {good, line, good, "$9999*"});
        EXPECT_TRUE(out.ends_with("\r\nWriteFail*\r\nQV>>")) << line;
        EXPECT_EQ(p_.StoredUserPoints(), std::vector<UserPoint>{kA}) << line;
    }
}

TEST_F(StoreProtocolTest, UserPointReadKnobs) {
    p_.SetStoredUserPoints({kA, kB});
    p_.knobs().invalid_user_points = 3;
    std::string out = Confirmed("ru", 'y');
    std::vector<std::string> lines;
    for (std::size_t at = out.find("$0000*"); at < out.size();) {
        const std::size_t end = out.find("\r\n", at);
        if (end == std::string::npos) break;
        lines.push_back(out.substr(at, end - at));
        at = end + 2;
    }
    ASSERT_EQ(lines.size(), 7u) << out;  // 5 records, "$9999*", "Completed!"
    EXPECT_EQ(lines[0] + "\r\n", kLineA);
    EXPECT_EQ(lines[2] + "\r\n", std::string(kLineB).replace(4, 1, "2"));
    for (const std::size_t i : {1, 3, 4}) {
        EXPECT_EQ(lines[i].substr(0, 6), "$000" + std::to_string(i) + "*");
        EXPECT_EQ(lines[i][9], '0') << lines[i];  // month 0: the host throws it away
    }
    EXPECT_EQ(lines[5], "$9999*");

    p_.knobs().invalid_user_points = 0;
    p_.knobs().user_point_reply_cut = true;
    out = Confirmed("ru", 'y');
    EXPECT_TRUE(out.ends_with(kLineB)) << out;
    EXPECT_FALSE(Has(out, "$9999*"));
    EXPECT_FALSE(Has(out, "Completed!"));

    p_.knobs().user_point_reply_cut = false;
    p_.knobs().read_completed = false;
    EXPECT_TRUE(Confirmed("ru", 'y').ends_with(std::string(kLineB) + "$9999*\r\nQV>>"));
}

TEST_F(StoreProtocolTest, SamplePointsAreAllKeptByTheHostAndDiffer) {
    const auto points = SampleUserPoints(400);
    ASSERT_EQ(points.size(), 400u);
    EXPECT_EQ(points, SampleUserPoints(400));
    for (std::size_t i = 0; i < points.size(); ++i) {
        const UserPoint& p = points[i];
        EXPECT_GE(p[0] & 0xF, 1) << i;
        EXPECT_LE(p[0] & 0xF, 12) << i;
        EXPECT_LE((p[0] >> 4) & 0x3F, 60) << i;
        EXPECT_LE((p[1] >> 11) & 0x1F, 24) << i;
        if (i > 0) {
            EXPECT_NE(p[3], points[i - 1][3]) << i;
            EXPECT_NE(p[6], points[i - 1][6]) << i;
        }
    }
    // 400 records are more than a host's 20480-byte buffer holds.
    p_.SetStoredUserPoints(points);
    EXPECT_GT(Confirmed("ru", 'y').size(), 400u * 63);
}

TEST_F(ProtocolTest, StoreCommandsAreNotUnderstoodInNormalMode) {
    Protocol p(cfg_);
    for (const char* command : {"ra", "wa", "ru", "wu", "$ra", "$wu"}) {
        EXPECT_EQ(p.Execute(command), "") << command;
        EXPECT_EQ(p.Expects(), Protocol::Input::Line) << command;
    }
}

TEST_F(ProtocolTest, StoresStartFromTheConfiguration) {
    cfg_.settings[3] = 0x0042;
    cfg_.user_points = SampleUserPoints(2);
    Protocol p(cfg_);
    EXPECT_EQ(p.StoredSettings()[3], 0x0042);
    EXPECT_EQ(p.StoredUserPoints(), SampleUserPoints(2));
}

TEST(PacerTest, TakesBytesAtTenBitsEachFromTheFirstOneSeen) {
    using std::chrono::milliseconds;
    Pacer pacer;
    const auto t0 = Clock::now();
    EXPECT_EQ(pacer.Allowed(t0, 115200), 1u);  // an idle line: the first byte has just arrived
    pacer.Take(1);
    EXPECT_TRUE(pacer.busy());
    EXPECT_EQ(pacer.Allowed(t0, 115200), 0u);
    EXPECT_LE(pacer.NextByteAt() - t0, Pacer::ByteTime(115200));
    EXPECT_GT(pacer.NextByteAt() - t0, Pacer::ByteTime(115200) - std::chrono::microseconds(1));
    EXPECT_GT(pacer.NextReadAt() - t0, milliseconds(4));  // a batch of 57 bytes, not one
    EXPECT_LT(pacer.NextReadAt() - t0, milliseconds(6));
    // Late and irregular wake-ups lose nothing: one second carries 11520 bytes in all.
    std::size_t total = 1;
    for (int ms : {3, 250, 251, 900, 1000}) {
        const std::size_t n = pacer.Allowed(t0 + milliseconds(ms), 115200);
        pacer.Take(n);
        total += n;
    }
    EXPECT_EQ(total, 11521u);  // the first byte counted at t0 - 1 byte time
    pacer.Idle();
    EXPECT_FALSE(pacer.busy());
    // After a pause the count starts afresh: no burst for the idle time.
    EXPECT_EQ(pacer.Allowed(t0 + milliseconds(5000), 4800), 1u);
}

TEST(PacerTest, SpeedChangeInARunKeepsTheBytesAlreadyCounted) {
    using std::chrono::milliseconds;
    Pacer pacer;
    const auto t0 = Clock::now();
    pacer.Take(pacer.Allowed(t0, 9600));
    pacer.Take(pacer.Allowed(t0 + milliseconds(100), 9600));  // 96 bytes by now
    const std::size_t fast = pacer.Allowed(t0 + milliseconds(200), 115200);
    EXPECT_NEAR(static_cast<double>(fast), 1152.0, 2.0);
}

}  // namespace
}  // namespace z31sim
