#include "qvlib/session/qv.h"

#include "qvlib/serial/win_codes.h"
#include "qvlib/util/clock.h"

namespace qv {

CQv::CQv() : model_(DefaultModel()) {}

CQv::~CQv() { Stop(); }

bool CQv::Open(ModelTable& models, const char* model_name, int port) {
    models.Load();
    std::optional<ModelInfo> row = models.Find(model_name != nullptr ? model_name : "");
    if (!row) return false;
    model_ = *row;
    if (!command_event_.IsValid() || !quit_event_.IsValid()) return false;
    if (!port_.Open(port, model_.nmea_baud)) return false;
    if (!Start()) {
        port_.Close();
        return false;
    }
    return true;
}

void CQv::Stop() {
    port_.Shutdown();
    if (HasThread()) {
        quit_event_.Set();
        Join();
    }
}

bool CQv::PostCommand(std::unique_ptr<CCommand> command) {
    if (!command || GetQueryState() == kStateRunning) return false;
    command_ = std::move(command);  // the previous command has finished: safe to destroy
    result_.store(0, std::memory_order_relaxed);
    state_.store(kStateRunning, std::memory_order_relaxed);
    posted_.store(command_.get(), std::memory_order_release);
    command_event_.Set();
    return true;
}

uint32_t CQv::Run() {
    for (;;) {
        uint32_t wait = util::CEvent::WaitAny({&command_event_, &quit_event_}, serial::kInfinite);
        if (wait == serial::kWaitObject0) {
            CCommand* command = posted_.exchange(nullptr, std::memory_order_acq_rel);
            if (command == nullptr) continue;
            int result = command->Run();
            result_.store(result, std::memory_order_relaxed);
            state_.store(kStateDone, std::memory_order_release);
        } else if (wait == serial::kWaitObject0 + 1) {
            return 0;
        } else {
            util::SleepMs(0);
        }
    }
}

}  // namespace qv
