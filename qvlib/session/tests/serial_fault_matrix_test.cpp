// The serial fault matrix: every command export that talks to the device, on a scripted line in
// virtual time, against each fault a serial line can have. Every cell must end (query state 2)
// with the result the command gives for that fault, within the virtual time its own pauses and
// time-outs allow, and leave the session able to run a good command once the line is healed. The
// matrix is printed as a table at the end (rows: commands, columns: faults, cells: result and
// virtual milliseconds).
//
// The device is a Z40PRO (NMEA and commands at 115200 baud), so the exchanges reopen the port only
// where a command always does (the bootloader write).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "qvlib/commands/device_mode.h"
#include "qvlib/commands/quality_control.h"
#include "qvlib/commands/tests/scripted_session.h"
#include "qvlib/commands/write_file.h"
#include "qvlib/settings/records.h"
#include "sim/reply_faults.h"

namespace {

enum class Fault {
    kGood,        // the correct reply, as a reference
    kSilent,      // the device never answers
    kGarbage,     // noise of the reply's length instead of it
    kNulInside,   // the reply with NULs at its start and before its markers
    kNulOnly,     // as many NULs as the reply has bytes
    kSlow,        // the reply one byte at a time, kSlowGapMs apart
    kSplit,       // the reply in three pieces, as far apart as the command tolerates
    kHangUp,      // the line hangs up halfway through the command's writes
    kWrongSpeed,  // the reply at another line speed, so it is lost
};

constexpr Fault kFaults[] = {Fault::kGood,      Fault::kSilent,  Fault::kGarbage,
                             Fault::kNulInside, Fault::kNulOnly, Fault::kSlow,
                             Fault::kSplit,     Fault::kHangUp,  Fault::kWrongSpeed};

const char* FaultName(Fault fault) {
    switch (fault) {
        case Fault::kGood: return "good line";
        case Fault::kSilent: return "silent";
        case Fault::kGarbage: return "garbage";
        case Fault::kNulInside: return "NUL inside";
        case Fault::kNulOnly: return "NUL only";
        case Fault::kSlow: return "slow";
        case Fault::kSplit: return "split";
        case Fault::kHangUp: return "hang-up";
        case Fault::kWrongSpeed: return "wrong speed";
    }
    return "?";
}

// Longer than the one-second reads of most commands; shorter than the two silent reads that end
// the QC verdict's collection, which documents that it waits out a trickle.
constexpr uint32_t kSlowGapMs = 1100;
constexpr int kSplitPieces = 3;
constexpr int kWrongRate = 57600;  // no command of a Z40PRO talks at it

// One reply of the device: it starts `delay_ms` after the host's write of exactly `trigger`.
struct Exchange {
    std::string trigger;
    std::string reply;
    uint32_t delay_ms;
};

struct Piece {
    std::string bytes;
    uint32_t delay_ms;
    int baud;
};

// What the device sends for the exchange on a line with the fault.
std::vector<Piece> Shape(const Exchange& e, Fault fault, uint32_t split_gap_ms,
                         std::mt19937& random) {
    std::vector<Piece> pieces;
    switch (fault) {
        case Fault::kGood:
        case Fault::kHangUp:  // the line fails, not the device
            pieces.push_back({e.reply, e.delay_ms, 0});
            break;
        case Fault::kSilent: break;
        case Fault::kGarbage: {
            std::uniform_int_distribution<int> byte(1, 255);
            std::string noise(e.reply.size(), ' ');
            for (char& c : noise) c = static_cast<char>(byte(random));
            pieces.push_back({noise, e.delay_ms, 0});
            break;
        }
        case Fault::kNulInside:
            pieces.push_back({z31sim::InsertNuls(e.reply), e.delay_ms, 0});
            break;
        case Fault::kNulOnly:
            pieces.push_back({std::string(e.reply.size(), '\0'), e.delay_ms, 0});
            break;
        case Fault::kSlow:
            for (size_t i = 0; i < e.reply.size(); ++i) {
                pieces.push_back(
                    {e.reply.substr(i, 1), e.delay_ms + static_cast<uint32_t>(i) * kSlowGapMs, 0});
            }
            break;
        case Fault::kSplit: {
            uint32_t at = e.delay_ms;
            for (const std::string& part : z31sim::SplitReply(e.reply, kSplitPieces)) {
                pieces.push_back({part, at, 0});
                at += split_gap_ms;
            }
            break;
        }
        case Fault::kWrongSpeed: pieces.push_back({e.reply, e.delay_ms, kWrongRate}); break;
    }
    return pieces;
}

// One command export and how its device answers.
struct Row {
    std::string name;
    std::function<int(int port)> request;
    std::vector<Exchange> script;
    // Every reply in three pieces this far apart (each reply after the one before) still reaches
    // the reads the command documents: the pieces land inside its pause before a single read, or
    // inside its listening.
    uint32_t split_gap_ms;
    // The longest the command may take, from its own pauses and time-outs; `bytes` is how many the
    // device sends (only a collection that waits out a trickle depends on it).
    std::function<uint64_t(size_t bytes)> bound_ms;
    // Results that differ from the default (1 on a good line and a tolerated split, else 2).
    std::map<Fault, int> expected = {};
    std::function<void(int port)> prepare = nullptr;
    // Checks what the command left besides its result; `before` is the version text at the request.
    std::function<void(int port, int result, const std::string& before)> check = nullptr;
};

int ExpectedResult(const Row& row, Fault fault) {
    auto found = row.expected.find(fault);
    if (found != row.expected.end()) return found->second;
    return fault == Fault::kGood || fault == Fault::kSplit ? 1 : 2;
}

// A table of text cells in aligned columns.
class TextTable {
public:
    explicit TextTable(std::vector<std::string> header) { rows_.push_back(std::move(header)); }
    void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    std::string Render() const {
        std::vector<size_t> widths;
        for (const auto& row : rows_) {
            widths.resize(std::max(widths.size(), row.size()), 0);
            for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
        }
        std::string out;
        auto rule = [&] {
            for (size_t c = 0; c < widths.size(); ++c) {
                out += (c == 0 ? "+" : "") + std::string(widths[c] + 2, '-') + "+";
            }
            out += "\n";
        };
        rule();
        for (size_t r = 0; r < rows_.size(); ++r) {
            for (size_t c = 0; c < widths.size(); ++c) {
                const std::string cell = c < rows_[r].size() ? rows_[r][c] : "";
                const std::string pad(widths[c] - cell.size(), ' ');
                // Names to the left, results to the right.
                out += (c == 0 ? "| " + cell + pad : "| " + pad + cell) + " ";
            }
            out += "|\n";
            if (r == 0) rule();
        }
        rule();
        return out;
    }

private:
    std::vector<std::vector<std::string>> rows_;
};

UserPointEntry Point(uint16_t month, int32_t latitude) {
    UserPointEntry e{};
    e.w0Bits0to3 = month;
    e.latitude = latitude;
    e.longitude = -latitude;
    e.direction = 90;
    return e;
}

const char kPrompt[] = "\r\nQV>>";
const char kGga[] = "$GPGGA,120000.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,,,*47\r\n";
const char kSettingsWords[] =
    "0078 FFFF FFFF FFFF FFFF 0000 0000 0000 0014 FFC4 0000 0000 0000 0000 FFFF 0001 ";
const char kQcReport[] = "$GPSRESULT\r\nSV3,SNR45\r\nSV4,SNR41\r\nFIX,3D\r\nTTFF,32\r\nEND\r\n";

// The bounds, each from the command's own pauses and read time-outs (virtual milliseconds).
// A version query: 100 ms pause, one read of up to 1000 ms.
constexpr uint64_t kVersionBound = 100 + 1000;
// The mode check at equal rates: listening for 1000 ms in reads of up to 2000 ms (the last read
// may overrun the budget by up to a read), then "\r\n", a 100 ms pause and a read of 100 ms.
constexpr uint64_t kCheckBound = 1000 + 2000 + 100 + 100;
// The switch: a 100 ms pause before the check.
constexpr uint64_t kDownloadModeBound = 100 + kCheckBound;
// The reset: up to three checks, each followed by the pause after a failed check.
constexpr uint64_t kResetBound =
    qv::CResetDevice::kChecks * (kCheckBound + qv::CResetDevice::kPauseAfterFailedCheckMs);
// An erase: 100, 500 and 1000 ms pauses, one read of up to 1000 ms.
constexpr uint64_t kEraseBound = 100 + 500 + 1000 + 1000;
// The serial number write: 100, 100 and 500 ms pauses, one read of up to 1000 ms.
constexpr uint64_t kSerialBound = 100 + 100 + 500 + 1000;
// The QC view: 100 ms pause, one read of up to 500 ms.
constexpr uint64_t kViewBound = 100 + 500;
// The QC verdict: each byte costs at most a silent read and the read that takes it, and two silent
// reads end the collection; it stops at kEnoughBytes.
uint64_t QcResultBound(size_t bytes) {
    const uint64_t taken = std::min<uint64_t>(bytes, qv::CReqQCTestResult::kEnoughBytes);
    return (taken + 1) * qv::CReqQCTestResult::kSilentReadsAfterFirstByte *
           qv::CReqQCTestResult::kReadTimeoutMs;
}
// An image write of one block: 100 ms pause and a 100 ms read after the command and after "y",
// a 100 ms read after the block, the 1500 ms pause and the 300 ms read.
constexpr uint64_t kImageBound = 100 + 100 + 100 + 100 + 100 + 1500 + 300;
// The bootloader: two reopens with 100 ms to settle, 100 ms after the start command, the 1000 ms
// pause after the image and a read of up to 500 ms.
constexpr uint64_t kBootloaderBound = 100 + 100 + 100 + 1000 + 500;
// Settings: two 100 ms pauses and a read of up to 1000 ms; the write three pauses, a 100 ms read.
constexpr uint64_t kSettingsReadBound = 100 + 100 + 1000;
constexpr uint64_t kSettingsWriteBound = 100 + 100 + 100 + 100;
// The user point read: two pauses, the one-second collection, then reading on while bytes come
// for at most the wire time of the 20480-byte buffer at 115200 baud and a second, each read of up
// to 100 ms.
constexpr uint64_t kUserDbReadBound =
    100 + 100 + 1000 + (20480ull * 10 * 1000 / 115200 + 1000) + 100;
// The user point write: two pauses and the one-second collection.
constexpr uint64_t kUserDbWriteBound = 100 + 100 + 1000;

auto Fixed(uint64_t ms) {
    return [ms](size_t) { return ms; };
}

class SerialFaultMatrix : public ScriptedSessionTest {
protected:
    void SetUp() override {
        Open("Z40PRO");
        // One file per process: ctest runs the tests of this binary side by side.
        image_path_ =
            ::testing::TempDir() + "serial_fault_matrix_image_" + std::to_string(getpid()) + ".bin";
        std::ofstream(image_path_, std::ios::binary) << image_;
    }
    void TearDown() override {
        ScriptedSessionTest::TearDown();
        std::remove(image_path_.c_str());
    }
    int port() const { return device.port(); }

    std::vector<Row> Rows();

    struct Cell {
        int result;
        uint64_t elapsed_ms;
        size_t writes;
    };
    Cell RunCell(const Row& row, Fault fault, unsigned seed, int hang_up_after);
    // Puts the line right again and checks that the session runs a good command.
    void HealAndCheckTheSessionGoesOn();

    std::string image_path_;
    uint64_t sending_until_ = 0;  // when the device's last scheduled reply ends
    // A small image of one block; its write is judged whole, so it is the trigger of its verdict.
    const std::string image_ = std::string("IMG0") + std::string(296, '\x5a');
};

std::vector<Row> SerialFaultMatrix::Rows() {
    std::vector<Row> rows;
    const std::string version = "\r\nOK!\r\n$1.02" + std::string(kPrompt);
    auto version_check = [](int port, int result, const std::string& before) {
        // A failed query keeps the last good value.
        EXPECT_EQ(GetVersionResult(port), result == 1 ? std::string("1.02") : before);
    };
    for (auto [name, request, command] :
         {std::tuple{"ReqGetFWVersion", &ReqGetFWVersion, "rvfw\r"},
          std::tuple{"ReqGetDBVersion", &ReqGetDBVersion, "rvdb\r"},
          std::tuple{"ReqGetVOCVersion", &ReqGetVOCVersion, "rvvo\r"},
          std::tuple{"ReqGetDeviceID", &ReqGetDeviceID, "rimt\r"},
          std::tuple{"ReqGetSerialNumber", &ReqGetSerialNumber, "rsmt\r"}}) {
        // Only the version queries read past NUL bytes (they count as line ends).
        rows.push_back({name,
                        request,
                        {{command, version, 10}},
                        40,
                        Fixed(kVersionBound),
                        {{Fault::kNulInside, 1}},
                        nullptr,
                        version_check});
    }

    auto mode_check = [](int success_mode) {
        return [success_mode](int port, int result, const std::string&) {
            EXPECT_EQ(GetDeviceModeResult(port), result == 1 ? success_mode : 0);
        };
    };
    rows.push_back({"ReqGetDeviceMode",
                    ReqGetDeviceMode,
                    {{"\r\n", kPrompt, 10}},
                    40,
                    Fixed(kCheckBound),
                    {},
                    nullptr,
                    mode_check(2)});
    // The prompt that answers "$dnmode\r" is purged; the check's own "\r\n" decides.
    rows.push_back({"ReqSetDeviceDNMode",
                    ReqSetDeviceDNMode,
                    {{"$dnmode\r", "QV>>", 10}, {"\r\n", kPrompt, 10}},
                    40,
                    Fixed(kDownloadModeBound),
                    {},
                    nullptr,
                    mode_check(2)});
    // After "qq\r\n" the device streams; the pieces of a sentence fall inside the check's
    // one-second listening.
    rows.push_back({"ReqResetDevice",
                    ReqResetDevice,
                    {{"qq\r\n", kGga, 200}},
                    300,
                    Fixed(kResetBound),
                    {},
                    nullptr,
                    mode_check(1)});

    const std::string completed = "\r\nErasing...\r\nCompleted!" + std::string(kPrompt);
    for (auto [name, request, command, confirmation] :
         {std::tuple{"ReqEraseFW", &ReqEraseFW, "ep\r", "y"},
          std::tuple{"ReqEraseDB", &ReqEraseDB, "ed\r", "y"},
          std::tuple{"ReqEraseVOC", &ReqEraseVOC, "ev\r", "y"},
          std::tuple{"ReqEraseBootloader", &ReqEraseBootloader, "ep\r", "b"},
          std::tuple{"ReqEraseAll", &ReqEraseAll, "ef\r", "y"},
          std::tuple{"ReqEraseSerialNumber", &ReqEraseSerialNumber, "esmt\r", "y"}}) {
        // The question and the reply may take the 1500 ms of pauses before the read.
        rows.push_back({name,
                        request,
                        {{command, "\r\nErase? (y/n)", 10}, {confirmation, completed, 100}},
                        300,
                        Fixed(kEraseBound)});
    }
    rows.push_back({"ReqSetSerialNumber",
                    [](int port) { return ReqSetSerialNumber(port, "A1234"); },
                    {{"wsmt\r", "\r\nWrite serial number? (y/n)", 10},
                     {"y", "\r\nSerial number:", 10},
                     {"A1234\r", "\r\nCompleted!" + std::string(kPrompt), 50}},
                    100,
                    Fixed(kSerialBound)});

    rows.push_back({"ReqViewQC",
                    ReqViewQC,
                    {{"$viewqc\r", "\r\n" + std::string(kQcReport) + "QV>>", 10}},
                    40,
                    Fixed(kViewBound),
                    {},
                    nullptr,
                    [](int port, int result, const std::string&) {
                        // Emptied at the request, filled only with a whole report.
                        EXPECT_EQ(GetViewQC(port), result == 1 ? std::string(kQcReport) : "");
                    }});
    // The collection waits out one silent read after the first byte, so it takes the slow reply
    // too, and pieces up to two reads apart.
    rows.push_back({"ReqQCTestResult",
                    ReqQCTestResult,
                    {{"$qcresult\r\n", "\r\n$PASS" + std::string(kPrompt), 50}},
                    1500,
                    QcResultBound,
                    {{Fault::kSlow, 1}},
                    nullptr,
                    [](int port, int result, const std::string&) {
                        EXPECT_EQ(GetQCTestResult(port),
                                  result == 1 ? qv::kQcPass : qv::kQcUnknown);
                    }});

    const std::string path = image_path_;
    const std::string verdict = "\r\nWriteSucceed!" + std::string(kPrompt);
    for (auto [name, request, command] : {std::tuple{"ReqWriteFW", &ReqWriteFW, "wb\r"},
                                          std::tuple{"ReqWriteDB", &ReqWriteDB, "wd\r"},
                                          std::tuple{"ReqWriteVOC", &ReqWriteVOC, "wv\r"}}) {
        // The verdict comes after 500 ms of silence and may take the 1500 ms pause.
        rows.push_back({name,
                        [request, path](int port) { return request(port, path.c_str()); },
                        {{command, "\r\nWrite? (y/n)", 10},
                         {"y", "\r\nSend the file\r\n", 10},
                         {image_, verdict, 600}},
                        300,
                        Fixed(kImageBound)});
    }
    rows.push_back({"ReqWriteBootloader",
                    [path](int port) { return ReqWriteBootloader(port, path.c_str()); },
                    {{image_, kPrompt, 100}},
                    300,
                    Fixed(kBootloaderBound)});

    rows.push_back(
        {"ReqGetUserSetting",
         ReqGetUserSetting,
         {{"ra\r", "\r\nRead settings? (y/n)", 10},
          {"y", "\r\n$0000*" + std::string(kSettingsWords) + "\r\n$9999*\r\nCompleted!\r\nQV>>",
           10}},
         40,
         Fixed(kSettingsReadBound),
         {},
         [](int port) {
             DeleteAllUserSpeeds(port);
             AddGMT(port, 99);
         },
         [](int port, int result, const std::string&) {
             // Only a well-formed reply replaces the lists.
             EXPECT_EQ(GetGMTCount(port), 1u);
             EXPECT_EQ(GetGMT(port, 0), result == 1 ? -60 : 99);
             EXPECT_EQ(GetUserSpeedCount(port), result == 1 ? 1u : 0u);
         }});
    rows.push_back({"ReqSetUserSetting",
                    ReqSetUserSetting,
                    {{"wa\r", "\r\nWrite settings? (y/n)", 10},
                     {"y", "\r\nSend settings\r\n", 10},
                     {qv::FormatSettingsWrite({}), "\r\nWriteSucceed!" + std::string(kPrompt), 10}},
                    40,
                    Fixed(kSettingsWriteBound),
                    {},
                    [](int port) {
                        DeleteAllUserSpeeds(port);
                        DeleteAllWarningBySeconds(port);
                        DeleteAllSpeedUnit(port);
                        DeleteAllGMT(port);
                        DeleteAllSummerTime(port);
                        DeleteAllTimeSet(port);
                    }});

    std::string points = "\r\n";
    for (uint32_t i = 0; i < 3; ++i) {
        points += qv::FormatUserPointLine(i, qv::PackUserPoint(Point(1 + i, 100 * (i + 1))));
    }
    points += "$9999*\r\nCompleted!\r\nQV>>";
    // The pieces fall inside the one-second collection.
    rows.push_back({"ReqGetUserDB",
                    ReqGetUserDB,
                    {{"ru\r", "\r\nRead user points? (y/n)", 10}, {"y", points, 150}},
                    200,
                    Fixed(kUserDbReadBound),
                    {},
                    nullptr,
                    [](int port, int result, const std::string&) {
                        EXPECT_EQ(GetUserDBCount(port), result == 1 ? 3u : 0u);
                    }});
    rows.push_back({"ReqSetUserDB",
                    ReqSetUserDB,
                    {{"wu\r", "\r\nWrite user points? (y/n)", 10},
                     {"$9999*\r", "\r\nWriteSucceed!" + std::string(kPrompt), 100}},
                    200,
                    Fixed(kUserDbWriteBound),
                    {},
                    [](int port) {
                        DeleteAllUserDBs(port);
                        for (uint16_t month : {3, 4}) {
                            UserPointEntry e = Point(month, 1000 * month);
                            AddUserDB(port, &e);
                        }
                    }});
    return rows;
}

SerialFaultMatrix::Cell SerialFaultMatrix::RunCell(const Row& row, Fault fault, unsigned seed,
                                                   int hang_up_after) {
    device.Forget();
    device.Reconnect();
    if (row.prepare) row.prepare(port());
    std::mt19937 random(seed);
    size_t bytes = 0;
    for (const Exchange& e : row.script) {
        std::vector<Piece> pieces = Shape(e, fault, row.split_gap_ms, random);
        for (const Piece& p : pieces) bytes += p.bytes.size();
        if (pieces.empty()) continue;
        device.When(e.trigger, [this, pieces] {
            // The device sends one reply after the other: a reply whose turn comes while the
            // previous one is still going out follows it.
            const uint64_t now = util::NowMs();
            const uint64_t first = now + pieces.front().delay_ms;
            const uint64_t shift = sending_until_ > first ? sending_until_ - first : 0;
            for (const Piece& p : pieces) {
                device.Send(p.bytes, static_cast<uint32_t>(p.delay_ms + shift), p.baud);
            }
            sending_until_ = now + pieces.back().delay_ms + shift;
        });
    }
    if (fault == Fault::kHangUp) device.HangUpAfterWrites(hang_up_after);
    sending_until_ = 0;  // set by the session thread from here on, through the device's actions

    const std::string before = GetVersionResult(port());
    const size_t writes_before = device.Writes().size();
    const uint64_t start = Now();
    // The erases and the QC verdict print the replies they judge; noise stays out of the table.
    ::testing::internal::CaptureStdout();
    const int result = row.request(port()) == 1 ? Await() : -1;
    ::testing::internal::GetCapturedStdout();
    const Cell cell{result, Now() - start, device.Writes().size() - writes_before};

    EXPECT_NE(result, -1) << "refused";
    EXPECT_NE(result, -2) << "never ended";
    EXPECT_EQ(GetQueryState(port()), 2);
    EXPECT_EQ(result, ExpectedResult(row, fault));
    EXPECT_LE(cell.elapsed_ms, row.bound_ms(bytes));
    if (result > 0 && row.check) row.check(port(), result, before);
    return cell;
}

void SerialFaultMatrix::HealAndCheckTheSessionGoesOn() {
    device.Forget();
    device.Reconnect();
    device.Answer("rvfw\r", "\r\nOK!\r\n$9.99" + std::string(kPrompt), 10);
    EXPECT_EQ(Run(ReqGetFWVersion), 1) << "the session does not take the next command";
    EXPECT_STREQ(GetVersionResult(port()), "9.99");
}

}  // namespace

TEST_F(SerialFaultMatrix, EveryCommandEndsInTimeOnEveryFaultAndTheSessionGoesOn) {
    std::vector<std::string> header{"command \\ fault"};
    for (Fault fault : kFaults) header.push_back(FaultName(fault));
    TextTable table(header);

    const std::vector<Row> rows = Rows();
    for (size_t r = 0; r < rows.size(); ++r) {
        const Row& row = rows[r];
        std::vector<std::string> line{row.name};
        int hang_up_after = 1;
        for (Fault fault : kFaults) {
            SCOPED_TRACE(row.name + " on a line with fault: " + FaultName(fault));
            const unsigned seed = static_cast<unsigned>(r * 16 + static_cast<int>(fault));
            const Cell cell = RunCell(row, fault, seed, hang_up_after);
            // The good line runs first: the hang-up lets half of its writes through, at least one.
            if (fault == Fault::kGood)
                hang_up_after = std::max(1, static_cast<int>(cell.writes / 2));
            std::string text =
                std::to_string(cell.result) + " / " + std::to_string(cell.elapsed_ms) + "ms";
            if (cell.result != ExpectedResult(row, fault)) text += " (!)";
            line.push_back(text);
            HealAndCheckTheSessionGoesOn();
        }
        table.Add(line);
    }
    std::printf("\nSerial fault matrix: query result / virtual time of each command\n%s",
                table.Render().c_str());
    std::fflush(stdout);
}

// Every point at which the line can hang up under a command: after each of its writes. Whatever
// has gone out, the command fails in time and the session takes the next command.
TEST_F(SerialFaultMatrix, EveryHangUpPointFailsInTime) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        const size_t writes = RunCell(row, Fault::kGood, 0, 0).writes;
        HealAndCheckTheSessionGoesOn();
        for (size_t after = 1; after <= writes; ++after) {
            SCOPED_TRACE("hung up after write " + std::to_string(after));
            const Cell cell = RunCell(row, Fault::kHangUp, 0, static_cast<int>(after));
            EXPECT_EQ(cell.writes, after);
            HealAndCheckTheSessionGoesOn();
        }
    }
}

// A verdict query on a line that is already down sends nothing and hears nothing: it must not
// leave the verdict of an earlier query to be read as this one's.
TEST_F(SerialFaultMatrix, AVerdictQueryThatCannotBeSentLeavesNoEarlierVerdict) {
    device.Answer("$qcresult\r\n", "\r\n$PASS\r\nQV>>", 50);
    ::testing::internal::CaptureStdout();
    const int passed = Run(ReqQCTestResult);
    const int verdict = GetQCTestResult(port());
    device.HangUpAfterWrites(0);
    const int unsent = Run(ReqQCTestResult);
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(passed, 1);
    ASSERT_EQ(verdict, qv::kQcPass);
    EXPECT_EQ(unsent, 2);
    EXPECT_EQ(device.Writes().size(), 1u);  // only the first query went out
    EXPECT_EQ(GetQCTestResult(port()), qv::kQcUnknown);
    HealAndCheckTheSessionGoesOn();
}
