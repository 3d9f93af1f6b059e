// The one line of each figure that bench/run_all.sh gathers into its table, after the
// benchmark's own text: "RESULT<TAB>name<TAB>figure<TAB>goal<TAB>PASS|FAIL".
#pragma once

#include <cstdarg>
#include <cstdio>

namespace bench {

// `figure` is printf-formatted; the goal is plain text, the verdict the benchmark's own.
inline void Result(const char* name, const char* goal, bool pass, const char* figure, ...)
    __attribute__((format(printf, 4, 5)));
inline void Result(const char* name, const char* goal, bool pass, const char* figure, ...) {
    char text[128];
    va_list args;
    va_start(args, figure);
    std::vsnprintf(text, sizeof text, figure, args);
    va_end(args);
    std::printf("RESULT\t%s\t%s\t%s\t%s\n", name, text, goal, pass ? "PASS" : "FAIL");
    std::fflush(stdout);
}

}  // namespace bench
