// qvctl batch and watch against many simulated devices in one port folder: every device on its
// own, failures kept to their device, the report and the JSON events checked per port.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "child.h"
#include "sim/z31sim.h"

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using qvctl_test::Child;
using qvctl_test::JsonLines;
using qvctl_test::Result;

// A fast device (model Z40PRO: both rates 115200), in download mode, with a serial number of
// its own port.
z31sim::DeviceConfig DeviceOn(int port) {
    z31sim::DeviceConfig cfg;
    cfg.port_number = port;
    cfg.nmea_baud = 115200;
    cfg.command_baud = 115200;
    cfg.start_mode = z31sim::Mode::Download;
    cfg.nmea_period_ms = 100;
    cfg.device_id = "Z40P012";
    cfg.serial_number = "Z40A00000" + std::to_string(10 + port);
    return cfg;
}

class BatchTest : public ::testing::Test {
protected:
    z31sim::Device& Plug(int port, bool paced = false) {
        auto& device = devices_[port];
        device = std::make_unique<z31sim::Device>(dir_.path(), DeviceOn(port));
        device->SetPacedReception(paced);
        return *device;
    }
    std::string MakeImage(size_t size) {
        image_.resize(size);
        for (size_t i = 0; i < size; ++i) image_[i] = static_cast<char>((i * 37 + i / 5) & 0xFF);
        const std::string path = dir_.path() + "/db.img";
        std::ofstream(path, std::ios::binary) << image_;
        return path;
    }
    std::vector<std::string> Args(std::vector<std::string> args) {
        std::vector<std::string> all = {"--port-dir", dir_.path(), "--model", "Z40PRO"};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }
    std::string Received(int port) const {
        return devices_.at(port)->ReceivedImage(z31sim::Area::Database);
    }
    // The events of each port, in the order they came.
    static std::map<int, std::vector<json>> ByPort(const std::vector<json>& events) {
        std::map<int, std::vector<json>> ports;
        for (const json& e : events) {
            if (e.contains("port")) ports[e["port"].get<int>()].push_back(e);
        }
        return ports;
    }

    z31sim::PortDir dir_;
    std::map<int, std::unique_ptr<z31sim::Device>> devices_;
    std::string image_;
};

TEST_F(BatchTest, SixteenDevicesAtOnceTwoFailAndTheOthersAreWrittenWhole) {
    for (int port = 3; port <= 18; ++port) Plug(port);
    devices_[7]->SetWriteVerdict(z31sim::WriteVerdict::CheckSumErr);
    devices_[11]->SetSilent(true);
    const std::string image = MakeImage(30000);
    const std::string report_file = dir_.path() + "/report.json";
    Result r = Child(Args({"--json", "batch", "--ports", "3-18", "--erase", "db", "--write", "db",
                           image, "--check-version", "--report", report_file}))
                   .Wait(120s);
    ASSERT_EQ(r.exit, 1) << r.err;
    EXPECT_NE(r.err.find("2 of 16 devices failed: COM7 ("), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("COM11 (no device answers on COM11)"), std::string::npos) << r.err;
    for (int port = 3; port <= 18; ++port) {
        if (port == 7 || port == 11) continue;
        EXPECT_EQ(Received(port), image_) << "COM" << port;
    }
    EXPECT_EQ(Received(11), "");

    // Every port's events: its steps in order, each started and ended, then its end.
    const std::vector<json> events = JsonLines(r.out);
    ASSERT_FALSE(events.empty());
    const auto ports = ByPort(events);
    for (int port = 3; port <= 18; ++port) {
        std::vector<std::string> steps;
        for (const json& e : ports.at(port)) {
            if (e["event"] == "step") {
                steps.push_back(e["step"].get<std::string>() + " " + e["state"].get<std::string>());
            }
        }
        std::vector<std::string> expected = {
            "identify start", "identify ok", "erase db start",      "erase db ok",
            "write db start", "write db ok", "check-version start", "check-version ok"};
        if (port == 7) expected = {expected.begin(), expected.begin() + 5};
        if (port == 7) expected.push_back("write db failed");
        if (port == 11) expected = {"identify start", "identify failed"};
        EXPECT_EQ(steps, expected) << "COM" << port;
        EXPECT_EQ(ports.at(port).back()["event"], "device") << "COM" << port;
    }
    // Progress events of a write carry the bytes done, never more than the whole.
    for (const json& e : events) {
        if (e["event"] != "progress") continue;
        EXPECT_LE(e["done"].get<int64_t>(), e["total"].get<int64_t>());
    }

    // The end: a result line and the same report in the file.
    const json& result = events.back();
    EXPECT_EQ(result["event"], "result");
    EXPECT_EQ(result["failed"], json::array({7, 11}));
    std::ifstream in(report_file);
    const json report = json::parse(in);
    EXPECT_EQ(report["exit"], 1);
    ASSERT_EQ(report["devices"].size(), 16u);
    for (const json& d : report["devices"]) {
        const int port = d["port"];
        if (port == 7) {
            EXPECT_EQ(d["outcome"], "failed");
            EXPECT_EQ(d["failed_step"], "write db");
            EXPECT_EQ(d["serial_number"], "Z40A0000017");
        } else if (port == 11) {
            EXPECT_EQ(d["outcome"], "failed");
            EXPECT_EQ(d["failed_step"], "identify");
            EXPECT_EQ(d["error"], "no device answers on COM11");
        } else {
            EXPECT_EQ(d["outcome"], "ok") << port;
            EXPECT_EQ(d["serial_number"], "Z40A00000" + std::to_string(10 + port));
            EXPECT_EQ(d["before"]["firmware"], "1.20");
            EXPECT_EQ(d["after"]["database"], "2024.05.1");
            EXPECT_EQ(d["bytes"], 30000);
        }
    }
}

TEST_F(BatchTest, ADeviceUnpluggedMidJobFailsAloneAndPlainOutputHasNoEscapes) {
    for (int port = 3; port <= 5; ++port) Plug(port, /*paced=*/true);
    const std::string image = MakeImage(40000);  // about 3.5 s a device at 115200 baud
    Child child(Args({"batch", "--ports", "3-5", "--write", "db", image, "--reset"}));
    // Pulled once its image is on the way.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (Received(4).size() < 8000 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    devices_[4]->HangUp();
    Result r = child.Wait(120s);
    ASSERT_EQ(r.exit, 1) << r.err;
    EXPECT_EQ(Received(3), image_);
    EXPECT_EQ(Received(5), image_);
    EXPECT_NE(r.err.find("1 of 3 devices failed: COM4 ("), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_NE(r.out.find("COM3: reset ok"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("COM4: write db failed"), std::string::npos) << r.out;
    // The summary: a line a device under its head.
    EXPECT_NE(r.out.find("Port  Device ID  Serial number"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("COM4  Z40P012    Z40A0000014"), std::string::npos) << r.out;
}

// qvctl with its standard output on a terminal (a pseudo-terminal read here): all it wrote
// there, and its exit code.
std::pair<std::string, int> OnTerminal(const std::vector<std::string>& args) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        std::vector<char*> argv = {const_cast<char*>(QVCTL_PROGRAM)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(QVCTL_PROGRAM, argv.data());
        _exit(127);
    }
    std::string out;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 60000) != 1) break;
        char buffer[4096];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO once the child has gone
        out.append(buffer, static_cast<size_t>(n));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST_F(BatchTest, OnATerminalEachDeviceHasALineRedrawnInPlace) {
    Plug(3);
    Plug(4);
    const std::string image = MakeImage(20000);
    const auto [out, exit] = OnTerminal(Args({"batch", "--ports", "3-4", "--write", "db", image}));
    EXPECT_EQ(exit, 0) << out;
    // Back up over the two device lines, clear each and draw it again.
    EXPECT_NE(out.find("\x1b[2A"), std::string::npos) << out;
    EXPECT_NE(out.find("\r\x1b[2KCOM3   write db       ["), std::string::npos) << out;
    EXPECT_NE(out.find("\r\x1b[2KCOM4   write db       ok"), std::string::npos) << out;
    EXPECT_NE(out.find("COM4  Z40P012    Z40A0000014"), std::string::npos) << out;
    EXPECT_EQ(Received(3), image_);
}

TEST_F(BatchTest, AJobIsCheckedBeforeAnyDeviceIsTouched) {
    Plug(3);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"batch", "--write", "db", "/nonexistent.img"},
             {"batch", "--ports", "3", "--write", "db", "/nonexistent.img"},
             {"batch", "--ports", "9-3", "--reset"},
             {"batch", "--ports", "3", "--erase", "everything"},
             {"watch", "--reset"},
         }) {
        Result r = Child(Args(args)).Wait(30s);
        EXPECT_EQ(r.exit, 2) << args.back() << r.err;
    }
    EXPECT_TRUE(devices_[3]->ReceivedCommands().empty());
}

TEST_F(BatchTest, WatchServicesEachNewDeviceOnceAndSkipsOneServicedBefore) {
    const std::string image = MakeImage(20000);
    Child child(Args({"--find", "Z40PRO", "--json", "watch", "--write", "db", image}));
    // The number of devices that have ended their turn, once it reaches `count`.
    const auto ended = [&](size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        for (;;) {
            size_t n = 0;
            for (const json& e : JsonLines(child.OutSoFar())) n += e["event"] == "device";
            if (n >= count || std::chrono::steady_clock::now() > deadline) return n;
            std::this_thread::sleep_for(50ms);
        }
    };
    for (int port = 3; port <= 5; ++port) {
        Plug(port);
        ASSERT_EQ(ended(port - 2), static_cast<size_t>(port - 2));
        EXPECT_EQ(Received(port), image_) << "COM" << port;
    }
    // Unplugged and plugged in again: the same device is known by its serial number.
    devices_[3].reset();
    std::this_thread::sleep_for(300ms);
    Plug(3);
    ASSERT_EQ(ended(4), 4u);
    EXPECT_EQ(Received(3), "");

    child.Signal(SIGINT);
    Result r = child.Wait(60s);
    EXPECT_EQ(r.exit, 0) << r.err;
    const std::vector<json> events = JsonLines(r.out);
    std::vector<std::string> outcomes;
    json tally;
    for (const json& e : events) {
        if (e["event"] == "device") {
            outcomes.push_back("COM" + std::to_string(e["port"].get<int>()) + " " +
                               e["outcome"].get<std::string>());
        }
        if (e["event"] == "tally") tally = e;
    }
    EXPECT_EQ(outcomes,
              (std::vector<std::string>{"COM3 ok", "COM4 ok", "COM5 ok", "COM3 skipped"}));
    EXPECT_EQ(tally["serviced"], 3);
    EXPECT_EQ(tally["skipped"], 1);
    EXPECT_EQ(tally["failed"], 0);
    EXPECT_EQ(events.back()["event"], "result");
}

}  // namespace
