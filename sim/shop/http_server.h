// A small poll-based HTTP/1.0 server on 127.0.0.1 running on its own thread. It parses
// requests, hands them to a handler and carries out the transport faults the handler asks for.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "sim/shop/z31shop.h"
#include "sim/unique_fd.h"

namespace z31sim {

struct HttpRequest {
    std::string method;
    std::string target;
    std::string version;
    HeaderList headers;
    std::string body;

    std::string Header(std::string_view name) const;  // first match, any case; "" when none
    bool KeepAlive() const;                           // what the client asked for
};

struct HttpResponse {
    int status = 200;
    std::string content_type = "text/html; charset=utf-8";
    HeaderList extra_headers;
    std::string body;
    // Transport faults.
    bool stall = false;                      // send nothing, keep the connection open
    bool reset = false;                      // close with RST instead of answering
    std::optional<std::size_t> truncate_at;  // send only this many body bytes, then close
    int delay_ms = 0;                        // wait before answering
    int drip_ms = 0;                         // send the answer one byte every drip_ms
    bool endless = false;                    // no Content-Length, and a body that never ends
};

const char* ReasonPhrase(int status);

class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;
    // Asked again for each stalled request whenever Wake() is called: true keeps it stalled,
    // false closes its connection.
    using StallCheck = std::function<bool(const HttpRequest&)>;

    // Binds 127.0.0.1:<port> (0: any free port) and starts the thread. Throws
    // std::runtime_error when the port cannot be bound.
    HttpServer(int port, Handler handler, StallCheck stall_check);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int Port() const { return port_; }
    void Wake();                 // makes the thread look at stalled requests again
    void SetListening(bool on);  // returns once the port is closed or open again
    bool IsListening() const;
    std::size_t AcceptedConnections() const { return accepted_.load(); }
    std::size_t OpenConnections() const { return open_.load(); }

private:
    struct Conn;
    void Run();

    int port_ = 0;
    Handler handler_;
    StallCheck stall_check_;
    UniqueFd wake_read_;
    UniqueFd wake_write_;
    std::atomic<std::size_t> accepted_{0};
    std::atomic<std::size_t> open_{0};

    std::mutex listen_mu_;  // one SetListening at a time
    mutable std::mutex mu_;
    std::condition_variable cv_;
    bool stop_ = false;
    bool want_listening_ = true;
    unsigned requested_ = 0;  // SetListening calls made
    unsigned applied_ = 0;    // and carried out by the thread
    UniqueFd new_listener_;   // bound by SetListening(true), adopted by the thread
    UniqueFd listener_;       // owned by the thread once it runs

    std::thread thread_;
};

}  // namespace z31sim
