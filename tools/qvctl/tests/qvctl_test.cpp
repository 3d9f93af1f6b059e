// qvctl run as a child process against simulated devices in a temporary port folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child.h"
#include "sim/z31sim.h"

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using qvctl_test::Child;
using qvctl_test::JsonLines;
using qvctl_test::Result;
using qvctl_test::RunQvctl;

constexpr int kPort = 7;

// A fast device: both rates 115200 (model Z40PRO), reception not paced, NMEA every 100 ms.
z31sim::DeviceConfig FastConfig(z31sim::Mode mode = z31sim::Mode::Download) {
    z31sim::DeviceConfig cfg;
    cfg.port_number = kPort;
    cfg.nmea_baud = 115200;
    cfg.command_baud = 115200;
    cfg.start_mode = mode;
    cfg.nmea_period_ms = 100;
    cfg.device_id = "Z40P012";
    return cfg;
}

class QvctlTest : public ::testing::Test {
protected:
    void StartDevice(z31sim::DeviceConfig cfg = FastConfig(), bool paced = false) {
        device_ = std::make_unique<z31sim::Device>(dir_.path(), cfg);
        device_->SetPacedReception(paced);
    }
    // The arguments of a command on the simulated port, with the model of the fast device.
    std::vector<std::string> On(std::vector<std::string> args) {
        std::vector<std::string> all = {"--port-dir",          dir_.path(), "--port",
                                        std::to_string(kPort), "--model",   "Z40PRO"};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }
    std::string MakeFile(const std::string& name, size_t size) {
        const std::string path = dir_.path() + "/" + name;
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
        std::ofstream(path, std::ios::binary) << data;
        return path;
    }
    static std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    z31sim::PortDir dir_;
    std::unique_ptr<z31sim::Device> device_;
};

// ---- Usage errors: exit 2 before any device is touched ----

TEST_F(QvctlTest, UsageErrorsExitTwo) {
    EXPECT_EQ(RunQvctl({"info", "--no-such-option"}).exit, 2);
    EXPECT_EQ(RunQvctl({}).exit, 2);                                           // no subcommand
    EXPECT_EQ(RunQvctl({"frobnicate"}).exit, 2);                               // unknown subcommand
    EXPECT_EQ(RunQvctl({"--port", "0", "info"}).exit, 2);                      // port out of range
    EXPECT_EQ(RunQvctl({"--port", "abc", "info"}).exit, 2);                    // not a number
    EXPECT_EQ(RunQvctl({"--port", "3", "--find", "Z31STD", "info"}).exit, 2);  // both given
    EXPECT_EQ(RunQvctl({"--port", "3", "erase", "nvram"}).exit, 2);            // unknown area
    EXPECT_EQ(RunQvctl({"--port", "3", "write", "db", "/no/such/file"}).exit, 2);
    EXPECT_EQ(RunQvctl({"--port", "3", "settings", "set", "--clock", "13"}).exit, 2);
    const Result no_port = RunQvctl({"info"});
    EXPECT_EQ(no_port.exit, 2);
    EXPECT_NE(no_port.err.find("--port"), std::string::npos) << no_port.err;
}

TEST_F(QvctlTest, HelpListsExitCodesAndSubcommands) {
    const Result r = RunQvctl({"--help"});
    EXPECT_EQ(r.exit, 0);
    for (const char* word : {"ports", "find", "info", "erase", "write", "serial", "qc", "settings",
                             "time-out", "130"}) {
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    }
    const Result sub = RunQvctl({"write", "--help"});
    EXPECT_EQ(sub.exit, 0);
    EXPECT_NE(sub.out.find("AREA"), std::string::npos) << sub.out;
}

// ---- Ports ----

TEST_F(QvctlTest, PortsListsTheSimulatedPortAndWhetherItIsFree) {
    StartDevice();
    Result r = RunQvctl({"--port-dir", dir_.path(), "ports"});
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("COM7  " + dir_.path() + "/com7"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("free"), std::string::npos) << r.out;

    // Held by another process (the library's exclusive lock): listed as busy.
    const int fd = open(device_->PortPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    r = RunQvctl({"--port-dir", dir_.path(), "--json", "ports"});
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto lines = JsonLines(r.out);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    EXPECT_EQ(lines[0]["event"], "result");
    EXPECT_EQ(lines[0]["command"], "ports");
    ASSERT_EQ(lines[0]["ports"].size(), 1u);
    EXPECT_EQ(lines[0]["ports"][0]["port"], kPort);
    EXPECT_EQ(lines[0]["ports"][0]["state"], "busy");
    EXPECT_EQ(lines[0]["ports"][0]["target"], device_->SlavePath());

    // A port held by someone else cannot be opened: exit 3.
    r = RunQvctl(On({"mode"}));
    EXPECT_EQ(r.exit, 3) << r.out;
    close(fd);
}

TEST_F(QvctlTest, MissingPortExitsThree) {
    const Result r = RunQvctl(On({"--json", "info"}));
    EXPECT_EQ(r.exit, 3);
    EXPECT_NE(r.err.find("cannot open COM7"), std::string::npos) << r.err;
    const auto lines = JsonLines(r.out);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["ok"], false);
    EXPECT_EQ(lines[0]["exit"], 3);
    EXPECT_EQ(lines[0]["port"], kPort);
}

// ---- Reading the device ----

TEST_F(QvctlTest, InfoPrintsWhatTheDeviceHoldsAndSwitchesToDownloadMode) {
    auto cfg = FastConfig(z31sim::Mode::Normal);
    cfg.fw_version = "9.87";
    cfg.db_version = "2031.02.7";
    cfg.voc_version = "4.44";
    cfg.serial_number = "QA0000042";
    StartDevice(cfg);
    Result r = RunQvctl(On({"info"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    for (const char* value : {"9.87", "2031.02.7", "4.44", "Z40P012", "QA0000042", "normal"}) {
        EXPECT_NE(r.out.find(value), std::string::npos) << value << "\n" << r.out;
    }
    EXPECT_EQ(device_->CurrentMode(), z31sim::Mode::Download);

    r = RunQvctl(On({"--json", "info"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto lines = JsonLines(r.out);
    ASSERT_EQ(lines.size(), 1u);
    const json& res = lines[0];
    EXPECT_EQ(res["command"], "info");
    EXPECT_EQ(res["ok"], true);
    EXPECT_EQ(res["firmware"], "9.87");
    EXPECT_EQ(res["database"], "2031.02.7");
    EXPECT_EQ(res["voice"], "4.44");
    EXPECT_EQ(res["device_id"], "Z40P012");
    EXPECT_EQ(res["serial_number"], "QA0000042");
    EXPECT_EQ(res["mode"], "download");
}

TEST_F(QvctlTest, ModeDownloadModeAndReset) {
    StartDevice(FastConfig(z31sim::Mode::Normal));
    auto mode = [&] {
        const auto lines = JsonLines(RunQvctl(On({"--json", "mode"})).out);
        return lines.empty() ? json() : lines.back()["mode"];
    };
    EXPECT_EQ(mode(), "normal");
    EXPECT_EQ(RunQvctl(On({"download-mode"})).exit, 0);
    EXPECT_EQ(device_->CurrentMode(), z31sim::Mode::Download);
    EXPECT_EQ(mode(), "download");
    EXPECT_EQ(RunQvctl(On({"reset"})).exit, 0);
    EXPECT_EQ(device_->CurrentMode(), z31sim::Mode::Normal);
    EXPECT_EQ(mode(), "normal");
}

TEST_F(QvctlTest, SilentDeviceIsNoDeviceAndTimeOutExitsFour) {
    StartDevice();
    device_->SetSilent(true);
    Result r = RunQvctl(On({"mode"}));
    EXPECT_EQ(r.exit, 3) << r.out << r.err;
    const auto start = std::chrono::steady_clock::now();
    r = RunQvctl(On({"--timeout", "0.3", "--json", "info"}));
    EXPECT_EQ(r.exit, 4) << r.out << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    const auto lines = JsonLines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["exit"], 4);
}

// ---- Finding ----

TEST_F(QvctlTest, FindReportsTheDeviceOfTheModelOnly) {
    StartDevice();
    Result r = RunQvctl({"--port-dir", dir_.path(), "--json", "find", "Z40PRO"});
    ASSERT_EQ(r.exit, 0) << r.err;
    auto lines = JsonLines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["ports"], json::array({kPort}));

    // Another model's ID code: nothing found.
    r = RunQvctl({"--port-dir", dir_.path(), "--json", "find", "Z31STD"});
    EXPECT_EQ(r.exit, 3) << r.out;

    // --find picks the port for a command.
    r = RunQvctl({"--port-dir", dir_.path(), "--find", "Z40PRO", "--json", "serial", "get"});
    ASSERT_EQ(r.exit, 0) << r.err;
    lines = JsonLines(r.out);
    EXPECT_EQ(lines.back()["port"], kPort);
    EXPECT_EQ(lines.back()["serial_number"], "Z31A0012345");
}

// ---- Erasing and writing ----

TEST_F(QvctlTest, EraseAndWriteDatabaseReportProgress) {
    StartDevice();
    ASSERT_EQ(RunQvctl(On({"erase", "db"})).exit, 0);

    const std::string file = MakeFile("db.bin", 200 * 1024);
    const Result r = RunQvctl(On({"--json", "write", "db", file}));
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.err.find("\r["), std::string::npos) << r.err;  // not a terminal: no bar
    EXPECT_EQ(device_->ReceivedImage(z31sim::Area::Database), Slurp(file));
    const auto lines = JsonLines(r.out);
    ASSERT_GE(lines.size(), 2u) << r.out;
    long last = -1;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_EQ(lines[i]["event"], "progress");
        EXPECT_EQ(lines[i]["stage"], "write-db");
        EXPECT_GE(lines[i]["done"].get<long>(), last);
        last = lines[i]["done"].get<long>();
    }
    EXPECT_EQ(last, 200 * 1024);
    EXPECT_EQ(lines[lines.size() - 2]["total"], 200 * 1024);
    EXPECT_EQ(lines.back()["event"], "result");
    EXPECT_EQ(lines.back()["ok"], true);
    EXPECT_EQ(lines.back()["bytes"], 200 * 1024);
}

TEST_F(QvctlTest, RefusedWriteAndEraseExitOne) {
    StartDevice();
    device_->SetWriteVerdict(z31sim::WriteVerdict::CheckSumErr);
    const std::string file = MakeFile("fw.bin", 8 * 1024);
    Result r = RunQvctl(On({"write", "fw", file}));
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("did not accept"), std::string::npos) << r.err;
    device_->SetEraseAnswers(false);
    r = RunQvctl(On({"erase", "voc"}));
    EXPECT_EQ(r.exit, 1) << r.out;
}

TEST_F(QvctlTest, SerialNumberMustBeErasedBeforeItIsSet) {
    StartDevice();
    Result r = RunQvctl(On({"serial", "set", "NEW123"}));
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("erase serial"), std::string::npos) << r.err;
    EXPECT_EQ(device_->StoredSerialNumber(), "Z31A0012345");
    ASSERT_EQ(RunQvctl(On({"erase", "serial"})).exit, 0);
    EXPECT_EQ(device_->StoredSerialNumber(), "");
    r = RunQvctl(On({"serial", "set", "NEW123"}));
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(device_->StoredSerialNumber(), "NEW123");
}

// ---- Quality control and settings ----

TEST_F(QvctlTest, QcViewAndResult) {
    StartDevice();
    device_->SetQcVerdict(z31sim::QcVerdict::Fail);
    Result r = RunQvctl(On({"--json", "qc", "result"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(JsonLines(r.out).back()["verdict"], "fail");
    EXPECT_EQ(JsonLines(r.out).back()["command"], "qc result");
    r = RunQvctl(On({"qc", "view"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("$GPSRESULT"), std::string::npos) << r.out;
    device_->SetQcViewEndMarker(false);  // an incomplete report is a failure
    EXPECT_EQ(RunQvctl(On({"qc", "view"})).exit, 1);
}

TEST_F(QvctlTest, SettingsSetChangesOnlyTheNamedValues) {
    StartDevice();
    Result r = RunQvctl(On({"--json", "settings", "get"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    json res = JsonLines(r.out).back();
    EXPECT_EQ(res["speeds"], json::array({80, 100}));
    EXPECT_EQ(res["warning"], 20);
    EXPECT_EQ(res["gmt"], -300);
    EXPECT_EQ(res["clock"], 1);

    r = RunQvctl(On({"settings", "set", "--speed4", "120", "--gmt", "60", "--clock", "12"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    const z31sim::Settings s = device_->StoredSettings();
    EXPECT_EQ(s[0], 80);
    EXPECT_EQ(s[1], 100);
    EXPECT_EQ(s[2], 0xFFFF);
    EXPECT_EQ(s[3], 120);
    EXPECT_EQ(s[8], 20);  // warning kept
    EXPECT_EQ(s[9], 60);
    EXPECT_EQ(s[14], 0);
}

// ---- User points ----

TEST_F(QvctlTest, PointsGetThenSetRestoresTheDeviceExactlyInBothFormats) {
    auto cfg = FastConfig();
    cfg.user_points = z31sim::SampleUserPoints(100);
    StartDevice(cfg);
    for (const char* name : {"points.gpx", "points.csv"}) {
        const std::string file = dir_.path() + "/" + name;
        Result r = RunQvctl(On({"--json", "points", "get", file}));
        ASSERT_EQ(r.exit, 0) << r.err;
        const json res = JsonLines(r.out).back();
        EXPECT_EQ(res["command"], "points get");
        EXPECT_EQ(res["points"], 100);
        EXPECT_EQ(res["file"], file);

        device_->SetStoredUserPoints({});
        r = RunQvctl(On({"points", "set", file}));
        ASSERT_EQ(r.exit, 0) << r.err;
        EXPECT_NE(r.out.find("Wrote 100 user points"), std::string::npos) << r.out;
        EXPECT_EQ(device_->StoredUserPoints(), z31sim::SampleUserPoints(100)) << name;
    }
    // The GPX file places the points where the device has them, in the form GPX 1.1 fixes.
    const std::string gpx = Slurp(dir_.path() + "/points.gpx");
    EXPECT_NE(gpx.find("<wpt lat=\"48.13720\" lon=\"11.57560\">"), std::string::npos) << gpx;
    const std::string check = std::string("xmllint --noout --schema ") + GPX_SCHEMA + " '" +
                              dir_.path() + "/points.gpx' > /dev/null 2>&1";
    EXPECT_EQ(std::system(check.c_str()), 0);
}

TEST_F(QvctlTest, FaultyPointsFileIsRefusedAndTheDeviceKeepsItsPoints) {
    auto cfg = FastConfig();
    cfg.user_points = z31sim::SampleUserPoints(3);
    StartDevice(cfg);
    const std::string file = dir_.path() + "/points.csv";
    ASSERT_EQ(RunQvctl(On({"points", "get", file})).exit, 0);
    std::string csv = Slurp(file);
    // Line 3 (the second point) gets a direction that no 16 bits hold.
    const size_t line3 = csv.find('\n', csv.find('\n') + 1) + 1;
    const size_t dir = csv.find(',', csv.find(',', csv.find(',', line3) + 1) + 1) + 1;
    csv.replace(dir, csv.find(',', dir) - dir, "70000");
    std::ofstream(file, std::ios::binary | std::ios::trunc) << csv;

    device_->SetStoredUserPoints(z31sim::SampleUserPoints(7));
    const Result r = RunQvctl(On({"--json", "points", "set", file}));
    EXPECT_EQ(r.exit, 2);
    EXPECT_NE(r.err.find(file + ":3: direction 70000 is outside"), std::string::npos) << r.err;
    EXPECT_EQ(JsonLines(r.out).back()["exit"], 2);
    EXPECT_EQ(device_->StoredUserPoints(), z31sim::SampleUserPoints(7));

    // A name that is neither .gpx nor .csv is a usage error before anything runs.
    EXPECT_EQ(RunQvctl(On({"points", "get", dir_.path() + "/points.xls"})).exit, 2);
    // A failed read leaves an existing file as it was.
    device_->SetUserPointReplyCut(true);
    const std::string before = Slurp(file);
    EXPECT_EQ(RunQvctl(On({"points", "get", file})).exit, 1);
    EXPECT_EQ(Slurp(file), before);
}

// ---- Interruption ----

TEST_F(QvctlTest, InterruptDuringWriteClosesThePortAndExits130) {
    StartDevice(FastConfig(), /*paced=*/true);
    const std::string file = MakeFile("big.bin", 3 * 1024 * 1024);  // ~270 s at 115200 baud
    Child child(On({"--json", "write", "db", file}));
    // Wait until the image is on its way.
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (child.OutSoFar().find("\"progress\"") == std::string::npos &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(300ms);
    const auto start = std::chrono::steady_clock::now();
    child.Signal(SIGINT);
    const Result r = child.Wait(5s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(r.exit, 130) << r.err;
    const auto lines = JsonLines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["exit"], 130);
    EXPECT_LT(device_->ReceivedImage(z31sim::Area::Database).size(), 3u * 1024 * 1024);

    // The port is free again. The device may still be waiting for the end of the cut stream.
    std::this_thread::sleep_for(700ms);
    const Result again = RunQvctl(On({"mode"}));
    EXPECT_EQ(again.exit, 0) << again.err;
}

}  // namespace
