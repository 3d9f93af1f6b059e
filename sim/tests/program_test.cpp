// The z31sim program as a test harness or a developer starts it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "sim/tests/host_port.h"
#include "sim/z31sim.h"

extern char** environ;

namespace z31sim {
namespace {

using namespace std::chrono_literals;

// A z31sim child process with its stdin, stdout and stderr piped to us.
class Program {
public:
    explicit Program(std::vector<std::string> args) {
        args.insert(args.begin(), Z31SIM_PROGRAM);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int in[2], out[2], err[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        close(err[1]);
        in_ = in[1];
        out_ = out[0];
        err_ = err[0];
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(in_);
        close(out_);
        close(err_);
    }

    // One command line on the child's standard input.
    bool Tell(const std::string& line) {
        const std::string text = line + "\n";
        return write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    // Reads the child's stdout up to and including the next newline, or gives up after `timeout`;
    // what a read brings beyond the line is kept for the next call.
    std::string ReadLine(std::chrono::milliseconds timeout) {
        std::string got = Read(out_, std::exchange(out_left_, {}), "\n", timeout);
        if (const std::size_t end = got.find('\n'); end != std::string::npos) {
            out_left_ = got.substr(end + 1);
            got.resize(end + 1);
        }
        return got;
    }
    std::string ReadAllErr(std::chrono::milliseconds timeout) {
        return Read(err_, {}, "", timeout);
    }
    std::string ReadAllOut(std::chrono::milliseconds timeout) {
        return Read(out_, std::exchange(out_left_, {}), "", timeout);
    }

    // Waits for the child to end; returns its exit code, or -1 if it does not end in time.
    int Wait(std::chrono::milliseconds timeout) {
        int status = 0;
        const bool ended =
            testing::WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
        if (!ended) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void Signal(int sig) { kill(pid_, sig); }

private:
    // Appends to `got` what `fd` brings until `until` is in it (never, when empty) or `timeout`.
    static std::string Read(int fd, std::string got, std::string_view until,
                            std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (until.empty() || got.find(until) == std::string::npos) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) != 1) break;
            char buf[256];
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string out_left_;  // read from stdout beyond the last line ReadLine returned
};

class ProgramTest : public ::testing::Test {
protected:
    PortDir dir_;
};

TEST_F(ProgramTest, ServesUntilTerminatedThenRemovesItsLink) {
    Program sim({"--port-dir", dir_.path(), "--port=3", "--mode", "download", "--fw", "9.8"});
    const std::string link = dir_.path() + "/com3";
    EXPECT_EQ(sim.ReadLine(10s), "z31sim: device on " + link + "\n");
    testing::HostPort host;
    ASSERT_EQ(host.Open(link, 115200), "");
    ASSERT_TRUE(host.Write("rvfw\r"));
    EXPECT_EQ(host.ReadUntil("QV>>", 3s), "\r\nOK!\r\n$9.8\r\nQV>>");
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(10s), 0);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}

TEST_F(ProgramTest, BadOptionsGiveUsageAndExitCode2) {
    const std::vector<std::vector<std::string>> bad = {
        {"--port-dir", dir_.path(), "--bogus", "1"},
        {"--port-dir", dir_.path(), "--port", "x1"},
        {"--port-dir", dir_.path(), "--mode", "fast"},
        {"--port-dir", dir_.path(), "--nmea-baud", "1234"},
        {"--port-dir", dir_.path(), "--port"},
        {"--port-dir", dir_.path(), "stray"},
        {"--port-dir", dir_.path(), "--verdict", "maybe"},
        {"--port-dir", dir_.path(), "--pacing", "yes"},
        {"--port-dir", dir_.path(), "--split-reply", "2"},
        {"--port-dir", dir_.path(), "--reply-delay", "-5"},
        {"--port-dir", dir_.path(), "--settings-line", "82"},
        {"--port-dir", dir_.path(), "--points", "-1"},
        {"--port-dir", dir_.path(), "--settings", "1,2,3"},
        {"--port-dir", dir_.path(), "--settings", "1,2,3,4,5,6,7,8,9,A,B,C,D,E,F,10000"},
        {"--port-dir", dir_.path(), "--ports", "5-3"},
        {"--port-dir", dir_.path(), "--ports", "3,,4"},
        {"--port-dir", dir_.path(), "--on", "x", "--silent", "on"},
    };
    for (const auto& args : bad) {
        Program sim(args);
        EXPECT_NE(sim.ReadAllErr(10s).find("usage: z31sim"), std::string::npos) << args[2];
        EXPECT_EQ(sim.Wait(10s), 2) << args[2];
    }
}

TEST_F(ProgramTest, HelpListsEveryKnob) {
    Program sim({"--help"});
    const std::string all = sim.ReadAllOut(10s);
    EXPECT_EQ(sim.Wait(10s), 0);
    for (const char* knob :
         {"--pacing", "--erase-answer", "--verdict ", "--verdict-during-stream", "--quit-ignored",
          "--qc-verdict", "--qc-short", "--qc-end", "--silent", "--nul-in-replies", "--reply-delay",
          "--split-reply", "--read-completed", "--settings-line", "--invalid-points",
          "--points-cut", "--write-answer", "--points", "--settings "}) {
        EXPECT_NE(all.find(knob), std::string::npos) << knob;
    }
}

TEST_F(ProgramTest, KnobsGivenOnTheCommandLineApply) {
    Program sim({"--port-dir", dir_.path(), "--mode", "download", "--serial=", "--pacing", "off",
                 "--verdict=id", "--erase-answer", "off"});
    const std::string link = dir_.path() + "/com1";
    ASSERT_EQ(sim.ReadLine(10s), "z31sim: device on " + link + "\n");
    testing::HostPort host;
    ASSERT_EQ(host.Open(link, 115200), "");
    ASSERT_TRUE(host.Write("rsmt\r"));
    EXPECT_EQ(host.ReadUntil("QV>>", 3s), "\r\nOK!\r\n$\r\nQV>>");
    ASSERT_TRUE(host.Write("ef\r"));
    ASSERT_TRUE(host.ReadUntil("(y/n)", 3s).ends_with("(y/n)"));
    ASSERT_TRUE(host.Write("y"));
    EXPECT_EQ(host.ReadFor(300ms), "");
    ASSERT_TRUE(host.Write("wb\r"));
    ASSERT_TRUE(host.ReadUntil("(y/n)", 3s).ends_with("(y/n)"));
    ASSERT_TRUE(host.Write("y"));
    ASSERT_TRUE(host.WriteAll(std::string(20000, 'x'), 3s));
    EXPECT_NE(host.ReadUntil("QV>>", 5s).find("ID Mismatch*"), std::string::npos);
}

TEST_F(ProgramTest, StoresAndTheirKnobsFromTheCommandLine) {
    Program sim({"--port-dir", dir_.path(), "--mode", "download", "--pacing", "off", "--settings",
                 "1,2,3,4,5,6,7,8,9,a,B,c,D,e,F,ffff", "--points", "3", "--settings-line=81",
                 "--read-completed", "off", "--points-cut", "on", "--invalid-points", "1"});
    const std::string link = dir_.path() + "/com1";
    ASSERT_EQ(sim.ReadLine(10s), "z31sim: device on " + link + "\n");
    testing::HostPort host;
    ASSERT_EQ(host.Open(link, 115200), "");
    ASSERT_TRUE(host.Write("ra\r"));
    ASSERT_TRUE(host.Write("y"));
    EXPECT_NE(host.ReadUntil("QV>>", 3s)
                  .find("$0000*0001 0002 0003 0004 0005 0006 0007 0008 "
                        "0009 000A 000B 000C 000D 000E 000F FFFF  \r\n"
                        "$9999*\r\nQV>>"),
              std::string::npos);
    ASSERT_TRUE(host.Write("ru\r"));
    ASSERT_TRUE(host.Write("y"));
    const std::string points = host.ReadFor(500ms);
    EXPECT_NE(points.find("$0003*"), std::string::npos) << points;  // 3 stored, 1 thrown away
    EXPECT_EQ(points.find("$0004*"), std::string::npos) << points;
    EXPECT_EQ(points.find("$9999*"), std::string::npos) << points;
}

TEST_F(ProgramTest, ManyDevicesOnePerPortPluggedAndUnpluggedOnCommand) {
    Program sim({"--port-dir", dir_.path(), "--ports", "3-5", "--mode", "download", "--pacing",
                 "off", "--on", "4", "--silent", "on"});
    const auto link = [&](int port) { return dir_.path() + "/com" + std::to_string(port); };
    for (int port = 3; port <= 5; ++port) {
        ASSERT_EQ(sim.ReadLine(10s), "z31sim: device on " + link(port) + "\n");
    }
    // Each device has a serial number of its own; the knob after --on holds for its port alone.
    const auto serial = [&](int port) {
        testing::HostPort host;
        if (!host.Open(link(port), 115200).empty() || !host.Write("rsmt\r")) return std::string();
        return host.ReadUntil("QV>>", 1s);
    };
    EXPECT_EQ(serial(3), "\r\nOK!\r\n$Z31A0012003\r\nQV>>");
    EXPECT_EQ(serial(4), "");
    EXPECT_EQ(serial(5), "\r\nOK!\r\n$Z31A0012005\r\nQV>>");

    // Unplugged under an open port: the host sees the line end and the link goes.
    testing::HostPort host;
    ASSERT_EQ(host.Open(link(3), 115200), "");
    ASSERT_TRUE(sim.Tell("unplug 3"));
    EXPECT_EQ(sim.ReadLine(10s), "z31sim: unplugged " + link(3) + "\n");
    std::string got;
    EXPECT_LE(host.ReadOnce(&got, 3s), 0);
    struct stat st {};
    EXPECT_NE(lstat(link(3).c_str(), &st), 0);
    ASSERT_TRUE(sim.Tell("list"));
    EXPECT_EQ(sim.ReadLine(10s), "z31sim: ports 4-5\n");

    // Plugged again: a new device answers on the same port; mistakes are told and change nothing.
    ASSERT_TRUE(sim.Tell("plug 3"));
    EXPECT_EQ(sim.ReadLine(10s), "z31sim: device on " + link(3) + "\n");
    EXPECT_EQ(serial(3), "\r\nOK!\r\n$Z31A0012003\r\nQV>>");
    ASSERT_TRUE(sim.Tell("plug 3"));
    ASSERT_TRUE(sim.Tell("unplug 9"));
    ASSERT_TRUE(sim.Tell("shake 3"));
    ASSERT_TRUE(sim.Tell("list"));
    EXPECT_EQ(sim.ReadLine(10s), "z31sim: ports 3-5\n");

    ASSERT_TRUE(sim.Tell("quit"));
    EXPECT_EQ(sim.Wait(10s), 0);
    const std::string errors = sim.ReadAllErr(1s);
    EXPECT_NE(errors.find("port 3 has a device"), std::string::npos) << errors;
    EXPECT_NE(errors.find("no device on port 9"), std::string::npos) << errors;
    EXPECT_NE(errors.find("'shake 3' is not a command"), std::string::npos) << errors;
    for (int port = 3; port <= 5; ++port) EXPECT_NE(lstat(link(port).c_str(), &st), 0);
}

}  // namespace
}  // namespace z31sim
