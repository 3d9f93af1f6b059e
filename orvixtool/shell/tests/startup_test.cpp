// DevodTool started as a process of its own in environments where it cannot start: it ends with
// exit code 1 before any window, and says why in one line on standard error.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

struct ProgramRun {
    int exit_code = -1;  // -1: killed, or not started
    std::string out;
    std::string err;
};

// Reads both pipes until they close; false when `deadline` passes first.
bool Drain(int out, int err, ProgramRun& run, std::chrono::steady_clock::time_point deadline) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* into[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[512];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                into[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}

// Runs DevodTool with exactly `env`, its standard input closed; a run that is not over within
// 20 s is killed (and counts as a failure of the test).
ProgramRun RunProgram(std::vector<std::string> env) {
    ProgramRun run;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return run;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    // The sanitizers of an instrumented build must not object to the preloaded library.
    env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(DEVODTOOL_PROGRAM), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, DEVODTOOL_PROGRAM, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (spawned == 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        if (!Drain(out[0], err[0], run, deadline)) kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
    }
    close(out[0]);
    close(err[0]);
    return run;
}

// One line on standard error that starts with the program's name and contains `reason`.
void ExpectOneLineSaying(const ProgramRun& run, const std::string& reason) {
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "");
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "more than one line:\n" << run.err;
    EXPECT_EQ(run.err.rfind("DevodTool: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
}

const std::string kPath = "PATH=/usr/bin:/bin";

TEST(StartUpFailure, WithoutADisplayItSaysSoAndHowToGiveOne) {
    const ProgramRun run = RunProgram({kPath});
    ExpectOneLineSaying(run, "no display");
    EXPECT_NE(run.err.find("DISPLAY"), std::string::npos);
    EXPECT_NE(run.err.find("virtual display"), std::string::npos);
}

TEST(StartUpFailure, AWindowSystemThatDoesNotStartIsNamedWithItsReason) {
    // An X display that nobody serves: the plugin cannot connect.
    ProgramRun run = RunProgram({kPath, "DISPLAY=:999", "XDG_RUNTIME_DIR=/tmp"});
    ExpectOneLineSaying(run, "window system");
    EXPECT_NE(run.err.find(":999"), std::string::npos) << run.err;
    // A platform plugin that does not exist.
    run = RunProgram({kPath, "QT_QPA_PLATFORM=no-such-platform"});
    ExpectOneLineSaying(run, "window system");
    EXPECT_NE(run.err.find("no-such-platform"), std::string::npos) << run.err;
}

TEST(StartUpFailure, ANetworkLayerThatCannotBeUsedIsReportedBeforeTheWindowSystem) {
    const ProgramRun run =
        RunProgram({kPath, "QT_QPA_PLATFORM=offscreen", std::string("LD_PRELOAD=") + NO_INET_SHIM});
    ExpectOneLineSaying(run, "network");
    EXPECT_NE(run.err.find("not supported"), std::string::npos) << run.err;  // EAFNOSUPPORT
}

}  // namespace
