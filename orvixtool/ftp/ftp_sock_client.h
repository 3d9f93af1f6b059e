// CFtpSockClient: a minimal FTP control-connection client on a plain TCP socket: connect and read
// the greeting, log in with USER and PASS, quit. No data connection, no file commands. It is used
// only to tell an unreachable server from a rejected login after a transfer failed to connect.
//
// Replies are read a byte at a time, line by line; a line whose fourth character is a space ends
// the reply (FTP's multi-line convention: "220-..." lines, then "220 ..."). Every socket call is
// bounded by the time-out (SetTimeoutMs), so a silent or stalled server cannot hold the caller.
#pragma once

#include <string>

namespace devod {

class CFtpSockClient {
public:
    static constexpr int kCodeNoSocket = 5001;  // the control socket could not be created
    static constexpr int kDefaultTimeoutMs = 10000;

    CFtpSockClient() = default;
    virtual ~CFtpSockClient();  // closes the socket
    CFtpSockClient(const CFtpSockClient&) = delete;
    CFtpSockClient& operator=(const CFtpSockClient&) = delete;

    // True when connected and the greeting's code is 220 (a host name or dotted address).
    bool Connect(const std::string& host, int port);
    // True when USER was answered 331 and PASS 230 (a server that takes the user at once with 230
    // counts as a failed login).
    bool Login(const std::string& user, const std::string& password);
    // True when QUIT was answered 221 (the socket is then closed), and with a socket but no
    // connection; false without a socket, or on another answer (the socket is kept).
    bool Quit();
    // Sends the command with "\r\n" appended unless it ends with it. True without a socket or a
    // connection (nothing is sent); false for an empty command, or when the send fails or stalls.
    bool SendCommand(const std::string& command);
    // The whole reply, all its lines with their line ends; updates LastReply and the reply code.
    // "FAIL" without a socket or a connection (nothing updated). A line shorter than three
    // characters before its "\r\n", a failed or timed-out receive, or a connection closed in the
    // middle of a reply ends the read with "FAIL", reply code 0 and the connection closed.
    std::string ReadReply();

    int GetReplyCode() const { return reply_code_; }
    void SetReplyCode(int code) { reply_code_ = code; }
    const std::string& LastReply() const { return last_reply_; }
    bool HasSocket() const { return fd_ >= 0; }
    bool IsConnected() const { return connected_ != 0; }
    // The bound of every connect, send and receive call (default 10 s).
    void SetTimeoutMs(int ms) { timeout_ms_ = ms; }

private:
    void CloseSocket();

    std::string last_reply_;
    int fd_ = -1;
    int connected_ = 0;
    int reply_code_ = 0;
    int timeout_ms_ = kDefaultTimeoutMs;
};

}  // namespace devod
