// The z31shop program: options, its first line, serving, and stopping on a signal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "sim/shop/tests/http_client.h"
#include "sim/shop/z31shop.h"
#include "sim/unique_fd.h"

namespace z31sim {
namespace {

// Starts the program; returns its pid and puts the read ends of its stdout and stderr in `out`
// and `err`.
pid_t Spawn(std::vector<std::string> args, UniqueFd& out, UniqueFd& err) {
    args.insert(args.begin(), Z31SHOP_PROGRAM);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int o[2], e[2];
    if (::pipe(o) != 0 || ::pipe(e) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(o[1], 1);
        ::dup2(e[1], 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(o[1]);
    ::close(e[1]);
    out = UniqueFd(o[0]);
    err = UniqueFd(e[0]);
    return pid;
}

// Reads up to end of file, or the first newline when `line`, for at most 5 s.
std::string ReadFrom(const UniqueFd& fd, bool line) {
    std::string text;
    pollfd pfd{fd.get(), POLLIN, 0};
    char c;
    while (!(line && text.ends_with('\n')) && ::poll(&pfd, 1, 5000) > 0 &&
           ::read(fd.get(), &c, 1) == 1) {
        text += c;
    }
    return text;
}

// The exit code, or -1 (after killing it) when the program has not ended within 10 s.
int WaitExit(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 1000 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ProgramTest, ServesWithItsOptionsUntilASignal) {
    std::string log = ::testing::TempDir() + "z31shop_log_" + std::to_string(::getpid());
    std::remove(log.c_str());
    for (int sig : {SIGTERM, SIGINT}) {
        UniqueFd out, err;
        pid_t pid = Spawn(
            {"--port", "0", "--host", "shop.test", "--account", "me@x.org:pw:1", "--log", log}, out,
            err);
        ASSERT_GT(pid, 0);
        std::string line = ReadFrom(out, true);
        EXPECT_THAT(line,
                    ::testing::MatchesRegex("z31shop: listening on 127\\.0\\.0\\.1:[0-9]+\n"));
        int port = std::atoi(line.c_str() + line.rfind(':') + 1);

        std::string token =
            test::Fetch(port, test::PostRequest(kLoginPath,
                                                "xEmailAddress=me%40x.org"
                                                "&xCustPassword=pw%3A1&submit=Login"))
                .Cookie("PHPSESSID");
        test::Reply demo =
            test::Fetch(port, test::PostRequest(kLoginPath,
                                                "xEmailAddress=owner%40example.com"
                                                "&xCustPassword=secret&submit=Login"));
        EXPECT_EQ(demo.Header("Set-Cookie"), "");
        std::string page =
            test::Fetch(port,
                        test::GetRequest(kCataloguePath, "Cookie: PHPSESSID=" + token + "\r\n"))
                .body;
        EXPECT_THAT(page, ::testing::HasSubstr("\"http://shop.test/kvdb/z31uk2612.hdr\""));
        test::Fetch(port, test::PostRequest(kUpdateLogPath, "email=e&result=OK"));
        ::kill(pid, sig);
        EXPECT_EQ(WaitExit(pid), 0);
    }
    std::ifstream in(log);
    std::string first, second;
    std::getline(in, first);
    std::getline(in, second);
    EXPECT_EQ(first, "email=e&result=OK");
    EXPECT_EQ(second, "email=e&result=OK");
    std::remove(log.c_str());
}

TEST(ProgramTest, BadOptionsPrintUsageAndExit2) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"--port"}, {"--port", "99999"}, {"--account", "x"}, {"--host", "a b"}}) {
        UniqueFd out, err;
        pid_t pid = Spawn(args, out, err);
        ASSERT_GT(pid, 0);
        EXPECT_THAT(ReadFrom(err, false), ::testing::HasSubstr("usage: z31shop")) << args[0];
        EXPECT_EQ(WaitExit(pid), 2) << args[0];
    }
}

}  // namespace
}  // namespace z31sim
