// z31usbsim as a user runs it: its options, its ready line, serving, and stopping on SIGTERM.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "sim/usb/options.h"
#include "sim/usb/tests/test_support.h"

namespace z31sim::testing {
namespace {

TEST(SimOptionsTest, RejectsBadValues) {
    for (const char* bad : {"--bogus", "--socket", "--socket=", "--settings=0102030405",
                            "--settings=01020304050g", "--speeds=1,2,3,4", "--speeds=1,2,3,4,256",
                            "--speeds=1,2,3,4,5,", "--points=101", "--points=-1", "positional"}) {
        std::string error;
        EXPECT_FALSE(usb::ParseOptions({bad}, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

// The program, with stdout and stderr on one pipe; killed if a test leaves it running.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) {
        // Made before fork: the child of a threaded process must not allocate.
        std::vector<char*> argv{const_cast<char*>(Z31USBSIM_PATH)};
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            dup2(fds[1], 2);
            execv(Z31USBSIM_PATH, argv.data());
            _exit(127);
        }
        close(fds[1]);
        output_ = Fd(fds[0]);
    }
    ~SimProcess() {
        if (pid_ > 0 && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
    }

    // Output up to the first newline, or whatever came before end of file or 5 s of silence.
    std::string ReadLine() {
        std::string text;
        pollfd p{output_.get(), POLLIN, 0};
        char c = 0;
        while (c != '\n' && poll(&p, 1, 5000) == 1 && read(output_.get(), &c, 1) == 1) text += c;
        return text;
    }
    // The exit status once the program ends, or -1 if it has not within 5 s.
    int Wait() {
        for (int i = 0; i < 500; ++i, usleep(10000)) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) != pid_) continue;
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return -1;
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    Fd output_;
};

TEST(SimProgramTest, ServesPreloadedDataAndCleansUpOnSigterm) {
    TempDir dir;
    const std::string socket = dir.path() + "/sim.sock";
    SimProcess sim(
        {"--socket", socket, "--settings", "a1a2a3a4a5a6", "--speeds=9,8,7,6,5", "--points", "3"});
    ASSERT_GT(sim.pid(), 0);
    ASSERT_EQ(sim.ReadLine(), "z31usbsim: listening on " + socket + "\n");

    SetEnv("Z31_USB_SOCKET", socket);
    BridgeLib lib;
    const Fd out(lib.OpenFile("PIPE00")), in(lib.OpenFile("PIPE01"));
    unsetenv("Z31_USB_SOCKET");
    ASSERT_TRUE(out.valid() && in.valid());
    for (std::uint8_t kind : {1, 3, 2}) ASSERT_EQ(Send(out.get(), Bytes{0x23, kind, 1}), 3);
    EXPECT_EQ(ReadOnce(in.get()).data.at(5), 0xa6);
    EXPECT_EQ(ReadOnce(in.get()).data.at(4), 5);
    EXPECT_EQ(ReadOnce(in.get()).data.at(0), 3);

    kill(sim.pid(), SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    struct stat st {};
    EXPECT_NE(lstat(socket.c_str(), &st), 0) << "socket file left behind";
}

TEST(SimProgramTest, BadOptionPrintsUsageAndExitsWith2) {
    SimProcess sim({"--points", "1000"});
    EXPECT_NE(sim.ReadLine().find("--points"), std::string::npos);
    EXPECT_NE(sim.ReadLine().find("usage: z31usbsim"), std::string::npos);
    EXPECT_EQ(sim.Wait(), 2);
}

}  // namespace
}  // namespace z31sim::testing
