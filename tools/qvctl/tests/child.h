// qvctl as a child process, for the tests that run it against simulated devices.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qvctl_test {

using json = nlohmann::json;
using namespace std::chrono_literals;

struct Result {
    int exit = -1;  // the exit code, 128 + N for a signal, -1 when it had to be killed
    std::string out;
    std::string err;
};

inline std::string ReadAll(FILE* f) {
    std::fflush(f);
    std::string text;
    std::rewind(f);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    return text;
}

// qvctl as a child process; its standard output and error go to temporary files, so a child that
// writes a lot never blocks on a full pipe.
class Child {
public:
    explicit Child(const std::vector<std::string>& args)
        : out_(std::tmpfile(), &std::fclose), err_(std::tmpfile(), &std::fclose) {
        pid_ = fork();
        if (pid_ == 0) {
            const int null_fd = open("/dev/null", O_RDONLY);
            dup2(null_fd, STDIN_FILENO);
            dup2(fileno(out_.get()), STDOUT_FILENO);
            dup2(fileno(err_.get()), STDERR_FILENO);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(QVCTL_PROGRAM));
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(QVCTL_PROGRAM, argv.data());
            _exit(127);
        }
    }
    ~Child() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    void Signal(int sig) { kill(pid_, sig); }
    std::string OutSoFar() { return ReadAll(out_.get()); }

    // Waits for the child's end; kills it when it has not ended within `limit`.
    Result Wait(std::chrono::milliseconds limit) {
        Result r;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                reaped_ = true;
                r.out = ReadAll(out_.get());
                r.err = ReadAll(err_.get());
                return r;
            }
            std::this_thread::sleep_for(5ms);
        }
        reaped_ = true;
        r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = ReadAll(out_.get());
        r.err = ReadAll(err_.get());
        return r;
    }

private:
    std::unique_ptr<FILE, int (*)(FILE*)> out_;
    std::unique_ptr<FILE, int (*)(FILE*)> err_;
    pid_t pid_ = -1;
    bool reaped_ = false;
};

inline Result RunQvctl(const std::vector<std::string>& args,
                       std::chrono::milliseconds limit = 30s) {
    return Child(args).Wait(limit);
}

inline std::vector<json> JsonLines(const std::string& out) {
    std::vector<json> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) lines.push_back(json::parse(line));
    }
    return lines;
}

}  // namespace qvctl_test
