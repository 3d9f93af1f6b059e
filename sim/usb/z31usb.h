// The USB side of the simulated Z31: the device end of the socket that libPipeBridge connects
// to, with the device's settings data and fault knobs for tests.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace z31sim {

// One user point as the device stores it: 10 bytes, little-endian, direction then latitude and
// longitude in 1/100000 degree.
struct UserPoint {
    std::uint16_t direction = 0;
    std::int32_t latitude = 0;
    std::int32_t longitude = 0;
    friend bool operator==(const UserPoint&, const UserPoint&) = default;
};

inline constexpr std::size_t kSettingsRecordSize = 6;
inline constexpr std::size_t kUserSpeedCount = 5;
inline constexpr std::size_t kMaxUserPoints = 100;

using SettingsRecordBytes = std::array<std::uint8_t, kSettingsRecordSize>;
using UserSpeedBytes = std::array<std::uint8_t, kUserSpeedCount>;
using Bytes = std::vector<std::uint8_t>;

enum class Pipe {
    kOut,  // PIPE00: transfers from the program to the device
    kIn,   // PIPE01: transfers from the device to the program
};

// What the device does instead of answering a read request.
enum class ReadFault {
    kNone,
    kNoReply,    // the request is taken (and recorded) but never answered: the read times out
    kClosePipe,  // the device closes PIPE01 instead of answering: the read sees end of file
};

// How often each kind of connection was opened; refusals are counted apart.
struct OpenCounts {
    std::size_t probes = 0;
    std::size_t pipe_out = 0;
    std::size_t pipe_in = 0;
    std::size_t refused = 0;
};

// The socket path libPipeBridge connects to in this environment: Z31_USB_SOCKET, else
// $XDG_RUNTIME_DIR/z31sim-usb.sock, else /tmp/z31sim-usb-<uid>.sock.
std::string DefaultUsbSocketPath();

// The simulated device behind one SOCK_SEQPACKET listening socket, served by its own thread.
//
// Read requests on PIPE00 are answered on PIPE01. A reply made while no PIPE01 is open waits for
// the next PIPE01; a reply made while one is open belongs to that connection, and whatever of it
// could not be handed over is dropped when that connection closes or a newer PIPE01 replaces it.
// Several PIPE00 connections may be open at once: all are read, the oldest first, each until it
// has nothing more queued.
// Every member may be called at any time from any thread.
class UsbDevice {
public:
    // Creates the listening socket at `socket_path`, replacing a stale socket file there (any
    // other kind of file is left alone), and starts the device thread. Throws
    // std::runtime_error when the socket cannot be made.
    explicit UsbDevice(std::string socket_path);
    // Stops the thread, closes every connection and removes the socket file if it is still ours.
    ~UsbDevice();
    UsbDevice(const UsbDevice&) = delete;
    UsbDevice& operator=(const UsbDevice&) = delete;

    const std::string& SocketPath() const;

    // Device data.
    void SetSettingsRecord(const SettingsRecordBytes& record);
    SettingsRecordBytes SettingsRecord() const;
    void SetUserSpeeds(const UserSpeedBytes& speeds);
    UserSpeedBytes UserSpeeds() const;
    // Stores the points and makes the claimed count their number. Throws std::invalid_argument
    // for more than 100 points.
    void SetUserPoints(const std::vector<UserPoint>& points);
    std::vector<UserPoint> UserPoints() const;
    // The count sent in the first reply transfer, whatever points are stored.
    void SetUserPointCount(std::uint8_t count);
    std::uint8_t UserPointCount() const;

    // What arrived on PIPE00. Each PIPE00 connection is judged by its first transfer: one that
    // opens with a database file's 20-byte opening message (first byte '$') is a database
    // stream, and every transfer on it, whatever its bytes, is appended whole to the stream and
    // its size to ReceivedTransferSizes, until the program closes that connection. On any other
    // connection each transfer is a settings frame (0x23, kind 1..3, then either a 3-byte read
    // request or a 64-byte write), kept in ReceivedFrames and acted on, or else it is kept in
    // ReceivedUnframed and otherwise ignored.
    Bytes ReceivedStream() const;
    std::vector<std::size_t> ReceivedTransferSizes() const;
    std::vector<Bytes> ReceivedFrames() const;
    std::vector<Bytes> ReceivedUnframed() const;
    void ClearReceived();
    // Wait until the stream holds at least `bytes` bytes / at least `count` frames were received;
    // false when `timeout` passes first.
    bool WaitForStreamBytes(std::size_t bytes, std::chrono::milliseconds timeout) const;
    bool WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;
    OpenCounts Opens() const;

    // Fault knobs. Each takes effect before it returns (or throws std::runtime_error if the device
    // thread does not respond within 5 s).
    // Detached: probes and pipe opens are refused and open pipes are closed, as if unplugged.
    void SetAttached(bool attached);
    // Hidden: the listening socket is closed and its file removed, so nothing can connect at
    // all; open pipes are closed. Showing it again re-creates it (throws std::runtime_error if
    // it cannot).
    void SetSocketVisible(bool visible);
    // Refuses new opens of `pipe`; a connection already open stays.
    void SetPipeRefused(Pipe pipe, bool refused);
    void SetReadFault(ReadFault fault);
    // Each reply transfer is cut to at most `max_bytes` bytes; nullopt sends them whole.
    void SetShortReplies(std::optional<std::size_t> max_bytes);
    // Stops reading PIPE00 for `duration` from now (zero or less ends a stall at once). The
    // program's writes are taken by the kernel until the writer's socket send buffer is full and
    // then block for SO_SNDTIMEO and fail with EAGAIN, taking nothing. When the stall ends
    // everything taken is read in order. What fits in the buffer is measured in
    // sim/usb/README.md.
    void StallWrites(std::chrono::milliseconds duration);
    // Unplugged: every PIPE00 connection is closed, with whatever it still held, and new PIPE00
    // opens are refused, so every later write fails at once with ECONNRESET or EPIPE.
    void SetWritesUnplugged(bool unplugged);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace z31sim
