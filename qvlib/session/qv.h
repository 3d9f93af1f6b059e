// qv::CQv: the session of one open port. It owns the serial port, a thread that runs one command
// at a time, the polled query state and result, and the buffers commands fill.
//
// Publication: the session thread stores the query result, then the query state 2 with release
// ordering; the caller reads the state with acquire ordering, so whoever sees 2 also sees the result
// and every buffer the command wrote.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "qvlib/serial/serial_port.h"
#include "qvlib/session/command.h"
#include "qvlib/session/model_table.h"
#include "qvlib/session/progress_info.h"
#include "qvlib/settings/lists.h"
#include "qvlib/util/event.h"
#include "qvlib/util/thread.h"

namespace qv {

enum QueryState : int { kStateIdle = 0, kStateRunning = 1, kStateDone = 2 };

constexpr uint32_t kTextSize = 1024;

class CQv : public util::CThread, public CProgressInfo {
public:
    CQv();
    ~CQv() override;

    // Opens the port at the model's NMEA baud rate and starts the session thread. The model is
    // looked up in `models` after reloading it from "model.txt".
    bool Open(ModelTable& models, const char* model_name, int port);
    // Closes the port (a running command fails at its next read or write), ends the thread and
    // waits for it. Stopping a stopped session does nothing.
    void Stop();

    // Hands a command to the session thread. Refused (false, the command is destroyed) while the
    // previous command still runs: a running command is never replaced.
    bool PostCommand(std::unique_ptr<CCommand> command);
    // Creates a command of type T on this session's port, progress and model.
    template <typename T, typename... Args>
    std::unique_ptr<T> MakeCommand(Args&&... args) {
        return std::make_unique<T>(&port_, static_cast<CProgressInfo*>(this), &model_,
                                   std::forward<Args>(args)...);
    }

    int GetQueryState() const { return state_.load(std::memory_order_acquire); }
    int GetQueryResult() const { return result_.load(std::memory_order_relaxed); }
    const ModelInfo& Model() const { return model_; }
    CSerialPort& Port() { return port_; }
    char* VersionText() { return version_text_; }
    std::atomic<int>* DeviceMode() { return &device_mode_; }
    char* QcViewText() { return qc_view_text_; }
    std::atomic<int>* QcTestResult() { return &qc_test_result_; }
    SessionLists& Lists() { return lists_; }

protected:
    uint32_t Run() override;

private:
    CSerialPort port_;
    std::atomic<int> state_{kStateIdle};
    std::atomic<int> result_{0};
    util::CEvent command_event_{util::CEvent::Kind::Auto};
    util::CEvent quit_event_{util::CEvent::Kind::Auto};
    // The command last handed over, kept after it ran until the next one replaces it. The caller
    // replaces it only while the state is not "running"; the thread takes it with acquire.
    std::unique_ptr<CCommand> command_;
    std::atomic<CCommand*> posted_{nullptr};
    char version_text_[kTextSize] = {};
    // Written by the session thread, read by the caller once the state is 2; atomic so that a
    // caller polling them early reads a stale value, not a torn one.
    std::atomic<int> device_mode_{0};  // 0 unknown, 1 NMEA, 2 download mode: the last check
    char qc_view_text_[kTextSize] = {};
    std::atomic<int> qc_test_result_{3};  // 0 pass, 1 fail, 2 not done, 3 no verdict known
    ModelInfo model_;
    SessionLists lists_;  // empty when the session opens, destroyed with it
};

}  // namespace qv
