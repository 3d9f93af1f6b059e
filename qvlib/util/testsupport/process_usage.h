// What this process holds, read from /proc: open descriptors, threads and memory. The churn and
// soak tests take it before and after a long run to see that nothing was left behind, and print
// it so that a full-size run gives its figures.
//
//   util::testing::ProcessUsage before = util::testing::ProcessUsage::Now();
//   ... the run ...
//   util::testing::ProcessUsage after = util::testing::ProcessUsage::Now();
//   std::printf("%s\n", util::testing::Describe(before, after).c_str());
//
// Sizes come from the environment: SizeFromEnv("QV_SOAK_ROUNDS", 20) gives the variable's value
// when it holds a positive number, else the default, so a test runs small in the suite and at its
// full size when asked.
#pragma once

#include <dirent.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace util::testing {

struct ProcessUsage {
    int fds = 0;      // entries of /proc/self/fd (the directory's own descriptor not counted)
    int threads = 0;  // "Threads:" of /proc/self/status
    long rss_kb = 0;  // "VmRSS:"
    long hwm_kb = 0;  // "VmHWM:", the peak resident size
    std::vector<std::string> fd_targets;  // what each descriptor is, for a failure's message

    static ProcessUsage Now() {
        ProcessUsage usage;
        if (DIR* dir = opendir("/proc/self/fd")) {
            while (dirent* entry = readdir(dir)) {
                if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == dirfd(dir)) continue;
                ++usage.fds;
                char target[PATH_MAX] = {};
                const std::string link = std::string("/proc/self/fd/") + entry->d_name;
                if (readlink(link.c_str(), target, sizeof target - 1) < 0) target[0] = '?';
                usage.fd_targets.push_back(std::string(entry->d_name) + " " + target);
            }
            closedir(dir);
        }
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            std::istringstream fields(line);
            std::string key;
            long value = 0;
            fields >> key >> value;
            if (key == "Threads:") usage.threads = static_cast<int>(value);
            if (key == "VmRSS:") usage.rss_kb = value;
            if (key == "VmHWM:") usage.hwm_kb = value;
        }
        return usage;
    }
};

inline std::string Describe(const ProcessUsage& before, const ProcessUsage& after) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "fds %d -> %d, threads %d -> %d, VmRSS %ld -> %ld kB, VmHWM %ld -> %ld kB",
                  before.fds, after.fds, before.threads, after.threads, before.rss_kb, after.rss_kb,
                  before.hwm_kb, after.hwm_kb);
    return text;
}

// The descriptors `after` holds that `before` did not, one a line, for a failure's message.
inline std::string NewDescriptors(const ProcessUsage& before, const ProcessUsage& after) {
    std::string text;
    for (const std::string& fd : after.fd_targets) {
        bool known = false;
        for (const std::string& old : before.fd_targets) known = known || old == fd;
        if (!known) text += fd + "\n";
    }
    return text;
}

inline int SizeFromEnv(const char* name, int fallback) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return fallback;
    char* end = nullptr;
    long parsed = std::strtol(value, &end, 10);
    return *end == '\0' && parsed > 0 && parsed <= 1000000 ? static_cast<int>(parsed) : fallback;
}

// Whether the build carries a sanitizer whose own bookkeeping (quarantine, shadow memory) makes
// the resident size say nothing about our allocations; LeakSanitizer judges those builds instead.
constexpr bool kSanitizedBuild =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    true;
#else
    false;
#endif

}  // namespace util::testing
