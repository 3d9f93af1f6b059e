// The behaviour of the FTP download progress dialog, apart from its widgets: 500 ms after the
// dialog opens it connects and asks for the file's size on the dialog's thread, then fetches the
// file on a worker thread that reports through posted messages; the dialog closes with OK after
// a whole file and with Cancel otherwise, and `status` says why.
//
// Cancel (or destroying the flow) asks the worker to stop and joins it, so no worker outlives the
// dialog or the transfer it uses.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "orvixtool/ftp/ftp_transfer.h"
#include "orvixtool/shell/dialog_host.h"

namespace devod {

// What the flow needs of a transfer; FtpTransferSession (ftp_transfer_session.h) wraps
// CFtpTransfer, tests script it.
class IFtpSession {
public:
    virtual ~IFtpSession() = default;
    virtual bool Connect(const std::string& host, const std::string& user,
                         const std::string& password) = 0;
    virtual int ErrorCode() const = 0;
    virtual bool GetRemoteSize(const std::string& remote_name) = 0;
    virtual uint32_t FileSize() const = 0;
    // Runs on the worker thread.
    virtual bool Download(const std::string& remote_name, const std::string& local_name,
                          IFtpNotify* notify, const std::atomic<bool>* cancel) = 0;
    virtual std::string DownloadError() const = 0;
    virtual void Disconnect() = 0;
};

struct FtpDownloadRequest {
    std::string host;
    std::string user;
    std::string password;
    std::string remote_name;
    std::string local_name;
};

class FtpDownloadFlow {
public:
    static constexpr int kIdProgress = 1003;
    static constexpr int kIdCancel = 1004;
    static constexpr int kIdText = 1005;  // stays empty
    static constexpr unsigned kTimerStart = 8195;
    static constexpr unsigned kTimerDone = 8193;
    static constexpr unsigned kTimerNotFound = 8194;
    static constexpr unsigned kStartDelayMs = 500;

    // Why the dialog closed.
    enum Status : int {
        kStatusOpen = -1,        // not ended yet
        kStatusDone = 0,         // the whole file is in place
        kStatusUnreachable = 1,  // the server could not be reached
        kStatusLoginRejected = 2,
        kStatusNotFound = 3,  // the remote file is missing or empty
        kStatusFailed = 4,    // the transfer failed, was cut short or could not be stored
    };
    enum Result : int { kOk = 1, kCancel = 2 };

    // `post` queues a message for the dialog's thread, which hands it to OnMessage; it is called
    // on the worker thread. `close` ends the dialog with kOk or kCancel (once).
    FtpDownloadFlow(IFtpSession& session, IControls& controls, ITimers& timers, IPrompt& prompt,
                    std::function<void(unsigned message, uintptr_t wparam)> post,
                    std::function<void(int result)> close, FtpDownloadRequest request);
    ~FtpDownloadFlow();  // stops and joins the worker
    FtpDownloadFlow(const FtpDownloadFlow&) = delete;
    FtpDownloadFlow& operator=(const FtpDownloadFlow&) = delete;

    void OnInitDialog();
    void OnTimer(unsigned id);
    void OnMessage(unsigned message, uintptr_t wparam);
    void OnCancel();

    int status() const { return status_; }
    bool closed() const { return closed_; }
    bool WorkerRunning() const { return worker_.joinable(); }

private:
    class Notify : public IFtpNotify {
    public:
        explicit Notify(FtpDownloadFlow& flow) : flow_(flow) {}
        void Post(unsigned message, uintptr_t wparam) override { flow_.post_(message, wparam); }

    private:
        FtpDownloadFlow& flow_;
    };

    void Start();
    void StopWorker();
    void Close(int result);

    IFtpSession& session_;
    IControls& controls_;
    ITimers& timers_;
    IPrompt& prompt_;
    std::function<void(unsigned, uintptr_t)> post_;
    std::function<void(int)> close_;
    FtpDownloadRequest request_;
    Notify notify_{*this};
    std::atomic<bool> cancel_{false};
    std::thread worker_;
    int status_ = kStatusOpen;
    bool closed_ = false;
};

}  // namespace devod
