#include "orvixtool/ftp/ftp_download.h"

#include "orvixtool/shell/progress_state.h"

namespace devod {
namespace {

constexpr ColorRef kWhite = 0xFFFFFF;
constexpr ColorRef kBarColour = 0xFF6633;
constexpr unsigned kMbIconError = 0x10;

// A byte count in the bar's units: the bar's range is 32-bit and signed, so for a file beyond
// 2 GiB the count shows as its share of INT32_MAX.
intptr_t BarUnits(uint64_t bytes, uint32_t size) {
    if (size <= INT32_MAX) return static_cast<intptr_t>(bytes);
    return static_cast<intptr_t>(bytes * INT32_MAX / size);
}

}  // namespace

FtpDownloadFlow::FtpDownloadFlow(IFtpSession& session, IControls& controls, ITimers& timers,
                                 IPrompt& prompt,
                                 std::function<void(unsigned message, uintptr_t wparam)> post,
                                 std::function<void(int result)> close, FtpDownloadRequest request)
    : session_(session),
      controls_(controls),
      timers_(timers),
      prompt_(prompt),
      post_(std::move(post)),
      close_(std::move(close)),
      request_(std::move(request)) {}

FtpDownloadFlow::~FtpDownloadFlow() { StopWorker(); }

void FtpDownloadFlow::OnInitDialog() {
    controls_.SendMessage(kIdProgress, kPbmShowPercent, 1, 0);
    controls_.SendMessage(kIdProgress, kPbmSetBkColor, 0, kWhite);
    controls_.SendMessage(kIdProgress, kPbmSetBarColor, 0, kBarColour);
    controls_.SendMessage(kIdProgress, kPbmSetTextBkColor, 0, kWhite);
    controls_.SendMessage(kIdProgress, kPbmSetTextColor, 0, kBarColour);
    controls_.SendMessage(kIdProgress, kPbmSetPos, 0, 0);
    timers_.SetTimer(kTimerStart, kStartDelayMs);
}

void FtpDownloadFlow::OnTimer(unsigned id) {
    switch (id) {
        case kTimerStart:
            timers_.KillTimer(kTimerStart);
            Start();
            break;
        case kTimerDone:
            timers_.KillTimer(kTimerDone);
            status_ = kStatusDone;
            Close(kOk);
            break;
        case kTimerNotFound:
            timers_.KillTimer(kTimerNotFound);
            status_ = kStatusNotFound;
            Close(kCancel);
            break;
        default: break;
    }
}

void FtpDownloadFlow::Start() {
    if (closed_) return;
    if (!session_.Connect(request_.host, request_.user, request_.password)) {
        status_ = session_.ErrorCode() == CFtpTransfer::kErrorLogin ? kStatusLoginRejected
                                                                    : kStatusUnreachable;
        session_.Disconnect();
        Close(kCancel);
        return;
    }
    if (!session_.GetRemoteSize(request_.remote_name)) {
        status_ = kStatusNotFound;
        session_.Disconnect();
        Close(kCancel);
        return;
    }
    const uint32_t size = session_.FileSize();
    controls_.SendMessage(kIdProgress, kPbmSetRange32, 0, BarUnits(size, size));
    cancel_ = false;
    worker_ = std::thread([this] {
        const bool ok =
            session_.Download(request_.remote_name, request_.local_name, &notify_, &cancel_);
        post_(kMsgFtpDone, ok ? 1 : 0);
    });
}

void FtpDownloadFlow::OnMessage(unsigned message, uintptr_t wparam) {
    if (closed_) return;  // a message the worker posted before a cancel
    if (message == kMsgFtpProgress) {
        const intptr_t pos = BarUnits(wparam, session_.FileSize());
        controls_.SendMessage(kIdProgress, kPbmSetPos, static_cast<uintptr_t>(pos), 0);
        return;
    }
    if (message != kMsgFtpDone) return;
    StopWorker();  // it has posted its last message: the join is immediate
    controls_.SendMessage(kIdProgress, kPbmSetPos, 0, 0);
    const std::string error = session_.DownloadError();
    session_.Disconnect();
    if (wparam == 1) {
        status_ = kStatusDone;
        Close(kOk);
        return;
    }
    // A file that arrived but could not be stored is told to the user; either way the dialog
    // ends as a failure, never as a finished download.
    if (!error.empty()) prompt_.MessageBox(error, "File Download from Internet", kMbIconError);
    status_ = kStatusFailed;
    Close(kCancel);
}

void FtpDownloadFlow::OnCancel() {
    StopWorker();
    session_.Disconnect();
    if (status_ == kStatusOpen) status_ = kStatusFailed;
    Close(kCancel);
}

void FtpDownloadFlow::StopWorker() {
    cancel_ = true;
    if (worker_.joinable()) worker_.join();
}

void FtpDownloadFlow::Close(int result) {
    if (closed_) return;
    closed_ = true;
    timers_.KillTimer(kTimerStart);
    if (close_) close_(result);
}

}  // namespace devod
