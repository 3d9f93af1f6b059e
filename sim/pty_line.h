// The device's end of the serial line: a pseudo-terminal whose slave the host opens through a
// link <port_dir>/com<N>.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "sim/unique_fd.h"

namespace z31sim {

class PtyLine {
public:
    // Opens the pty, puts the slave in raw mode and links `link_path` to it. Throws
    // std::runtime_error naming what failed.
    explicit PtyLine(std::string link_path);
    ~PtyLine();  // Close()
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    bool is_open() const { return master_.valid(); }
    int master_fd() const { return master_.get(); }
    // Readable when the host opens, writes to or closes the port; -1 when that cannot be watched.
    int watch_fd() const { return watch_.get(); }
    const std::string& slave_path() const { return slave_path_; }
    const std::string& link_path() const { return link_path_; }

    // The line speed the host set on its side (the slave's termios), or 0 if unknown.
    int HostBaud() const;
    // Reads what the host sent, without blocking; read(2)'s result.
    ssize_t Read(char* buf, std::size_t size);
    // Writes without blocking and returns how much went out; when the host does not read and
    // its input queue is full, the rest is lost, as on a real line.
    std::size_t Write(std::string_view bytes);
    // What the host did to the slave since the last call, in order: the writes (IN_MODIFY)
    // before and after its last close. A pseudo-terminal keeps no record of the speed a byte
    // was sent at, so this order is what tells the bytes of a closed handle from those of the
    // handle that reopened the port at another speed.
    struct HostEvents {
        bool opened = false;        // the host opened the port at least once
        bool closed = false;        // the host closed the port at least once
        bool wrote_before = false;  // it wrote before its last close
        bool wrote_after = false;   // it wrote after its last close (or without any close)
    };
    // Reads the events on the slave. The host's exclusive-use flag (TIOCEXCL) would outlive
    // its close because this side keeps the slave open, so it is cleared when the host closes,
    // as the last close of a real port clears it.
    HostEvents OnWatchEvents();
    // Hangs up: closes both ends, so a host holding the port sees a hang-up, and removes the
    // link. Safe to call twice.
    void Close();

private:
    void MakeLink();
    void RemoveLink();

    std::string link_path_;
    std::string slave_path_;
    UniqueFd master_;
    UniqueFd slave_;  // kept open so that master reads do not fail while no host has the port
    UniqueFd watch_;
    bool linked_ = false;
};

}  // namespace z31sim
