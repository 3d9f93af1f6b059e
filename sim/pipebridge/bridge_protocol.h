// What libPipeBridge and the simulated device say to each other over their Unix-domain socket.
//
// Every call of the library opens a new SOCK_SEQPACKET connection and sends one message naming
// what it wants: kHelloProbe, kHelloPipeOut or kHelloPipeIn. The device answers with one
// message, kAnswerOk or a refusal starting with kAnswerNoPrefix followed by a reason. After "OK"
// a pipe connection carries transfers, one message each: the program to the device on PIPE00,
// the device to the program on PIPE01. A probe connection carries nothing more.
//
// Header only, so that both ends agree without linking to each other.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <string>

namespace z31pipe {

// Environment variables read by the library (and by the simulator program for its default).
inline constexpr char kSocketEnv[] = "Z31_USB_SOCKET";
inline constexpr char kReadTimeoutEnv[] = "Z31_USB_READ_TIMEOUT_MS";
inline constexpr char kWriteTimeoutEnv[] = "Z31_USB_WRITE_TIMEOUT_MS";
inline constexpr char kOpenTimeoutEnv[] = "Z31_USB_OPEN_TIMEOUT_MS";

inline constexpr int kDefaultReadTimeoutMs = 3000;   // SO_RCVTIMEO of PIPE01
inline constexpr int kDefaultWriteTimeoutMs = 1000;  // SO_SNDTIMEO of PIPE00
inline constexpr int kDefaultOpenTimeoutMs = 2000;   // connect, hello and answer
inline constexpr int kMaxTimeoutMs = 600000;         // larger values fall back to the default

inline constexpr char kHelloProbe[] = "PROBE";
inline constexpr char kHelloPipeOut[] = "PIPE00";  // program -> device, only written
inline constexpr char kHelloPipeIn[] = "PIPE01";   // device -> program, only read
inline constexpr char kAnswerOk[] = "OK";
inline constexpr char kAnswerNoPrefix[] = "NO";

// The program hands pipe names in a zero-filled buffer of this size.
inline constexpr std::size_t kNameBufferSize = 32;
// Neither a hello nor an answer is longer than this.
inline constexpr std::size_t kMaxControlMessage = 64;

// $XDG_RUNTIME_DIR/z31sim-usb.sock, or /tmp/z31sim-usb-<uid>.sock without XDG_RUNTIME_DIR.
// Z31_USB_SOCKET, when set and not empty, overrides both.
inline std::string DefaultSocketPath() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg != nullptr && xdg[0] != '\0') return std::string(xdg) + "/z31sim-usb.sock";
    return "/tmp/z31sim-usb-" + std::to_string(getuid()) + ".sock";
}

inline std::string SocketPath() {
    const char* path = std::getenv(kSocketEnv);
    if (path != nullptr && path[0] != '\0') return path;
    return DefaultSocketPath();
}

}  // namespace z31pipe
