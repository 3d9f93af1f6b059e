// How the simulator programs wait to be stopped: SIGINT, SIGTERM and SIGHUP are blocked before
// any worker thread starts (threads inherit the mask), so that only Wait() receives them. Their
// default disposition is restored first: a shell starts background jobs with SIGINT ignored, and
// an ignored signal never reaches sigwait.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <initializer_list>

namespace z31sim {

class StopSignals {
public:
    StopSignals() {
        sigemptyset(&set_);
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            signal(sig, SIG_DFL);
            sigaddset(&set_, sig);
        }
        pthread_sigmask(SIG_BLOCK, &set_, nullptr);
    }
    // Returns the signal that asked the program to stop.
    int Wait() {
        int sig = 0;
        sigwait(&set_, &sig);
        return sig;
    }

private:
    sigset_t set_;
};

}  // namespace z31sim
