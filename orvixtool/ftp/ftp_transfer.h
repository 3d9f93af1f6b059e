// CFtpTransfer: fetches one file from an FTP server on libcurl (active mode, binary). Connect logs
// in; when it fails, CFtpSockClient tells an unreachable server (error 1) from a rejected login
// (error 2). GetRemoteSize asks for the size without fetching the file (error 3 when the file is
// missing). Download fetches into a buffer of exactly that size, reporting the running total,
// and puts the local file in place only when the whole file has come.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace devod {

// The worker's messages to the progress dialog. Post is called on the worker thread and must
// only queue the message for the dialog's thread.
constexpr unsigned kMsgFtpDone = 0x3400;      // wparam 1 success, 0 failure
constexpr unsigned kMsgFtpProgress = 0x3401;  // wparam the bytes received so far
class IFtpNotify {
public:
    virtual ~IFtpNotify() = default;
    virtual void Post(unsigned message, uintptr_t wparam) = 0;
};

constexpr int kFtpPort = 21;
// After the time-out's first seconds, a download must have come at least this fast on average
// since it began (as the web client's downloads must), or it is cut.
constexpr long kFtpMinAverageBytesPerSecond = 4096;

class CFtpTransfer {
public:
    enum Error : int { kErrorNone = 0, kErrorUnreachable = 1, kErrorLogin = 2, kErrorNoFile = 3 };

    // `port`: the server's control port (21; tests use a free one).
    explicit CFtpTransfer(int port = kFtpPort);
    ~CFtpTransfer();
    CFtpTransfer(const CFtpTransfer&) = delete;
    CFtpTransfer& operator=(const CFtpTransfer&) = delete;

    bool Connect(const std::string& host, const std::string& user, const std::string& password);
    // Forgets the connection; connected and the size become 0. Always true.
    bool Disconnect();
    // True when the file exists with a size other than 0; the size is stored. A missing file sets
    // error 3.
    bool GetRemoteSize(const std::string& remote_name);
    // Fetches the file (GetRemoteSize first) and posts kMsgFtpProgress with the running total
    // to `notify` (may be null). False when the size query fails, the file cannot be opened, the
    // transfer fails or is cancelled, or the server sends more or fewer bytes than the size; the
    // local file is then left as it was. An existing local file is replaced as a download does
    // (moved to "DEL_" + its name when it cannot be replaced). A local file that cannot be
    // written is a failure too, with its reason in DownloadError. `cancel`, when set, is checked
    // throughout and ends the transfer soon after it becomes true.
    bool Download(const std::string& remote_name, const std::string& local_name, IFtpNotify* notify,
                  const std::atomic<bool>* cancel = nullptr);

    int ErrorCode() const { return error_code_; }
    uint32_t FileSize() const { return file_size_; }
    bool IsConnected() const { return connected_ != 0; }
    // The reason a local file could not be written in the last Download; empty otherwise.
    const std::string& DownloadError() const { return download_error_; }
    // Bounds the connect and any stall of a transfer (default 30 s each); after as many
    // seconds a download must also average kFtpMinAverageBytesPerSecond.
    void SetTimeoutSeconds(long seconds) { timeout_seconds_ = seconds; }

private:
    struct Session;  // the libcurl handle and the account, kept between calls
    std::unique_ptr<Session> session_;
    int port_;
    int connected_ = 0;
    uint32_t file_size_ = 0;
    int error_code_ = kErrorNone;
    std::string download_error_;
    long timeout_seconds_ = 30;
};

}  // namespace devod
