// The download flow's session on a real CFtpTransfer.
#pragma once

#include "orvixtool/ftp/ftp_download.h"
#include "orvixtool/ftp/ftp_transfer.h"

namespace devod {

class FtpTransferSession : public IFtpSession {
public:
    explicit FtpTransferSession(int port = kFtpPort) : transfer_(port) {}
    bool Connect(const std::string& host, const std::string& user,
                 const std::string& password) override {
        return transfer_.Connect(host, user, password);
    }
    int ErrorCode() const override { return transfer_.ErrorCode(); }
    bool GetRemoteSize(const std::string& remote_name) override {
        return transfer_.GetRemoteSize(remote_name);
    }
    uint32_t FileSize() const override { return transfer_.FileSize(); }
    bool Download(const std::string& remote_name, const std::string& local_name, IFtpNotify* notify,
                  const std::atomic<bool>* cancel) override {
        return transfer_.Download(remote_name, local_name, notify, cancel);
    }
    std::string DownloadError() const override { return transfer_.DownloadError(); }
    void Disconnect() override { transfer_.Disconnect(); }
    CFtpTransfer& transfer() { return transfer_; }

private:
    CFtpTransfer transfer_;
};

}  // namespace devod
