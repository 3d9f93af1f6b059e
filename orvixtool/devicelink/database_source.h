// Where a database update gets its file, and where the write's end is reported: the web shop
// (with its update log) today, an FTP server or another source beside it.
#pragma once

#include <optional>
#include <string>

namespace devod {

// A database file the owner confirmed for writing.
struct ConfirmedDatabase {
    std::string path;      // the file the write sends
    std::string log_name;  // how the update log names it: the chosen database or the file's name
    std::string email;     // the shop account of the run
};

class IDatabaseSource {
public:
    virtual ~IDatabaseSource() = default;
    // Runs the owner through getting one file; nothing when the run ended without one.
    virtual std::optional<ConfirmedDatabase> Prepare() = 0;
    // Tells the source how the update of a confirmed file ended: written into the device, or not
    // (refused by the write's checks, failed, or stopped). Called once per confirmed file.
    virtual void Report(const ConfirmedDatabase& database, bool written) = 0;
};

// How the write of a confirmed file runs on one kind of link. It shows the Updating state while
// it runs and the outcome afterwards, and calls the end handler it was made with once per write
// it started.
class IDatabaseWrite {
public:
    virtual ~IDatabaseWrite() = default;
    // True when the write has started; false when it could not (its own messages shown).
    virtual bool Start(const std::string& path) = 0;
    // A page timer that belongs to the write; false for a timer it does not know.
    virtual bool OnTimer(unsigned id) = 0;
    virtual bool Running() const = 0;
    // Stops a running write now and waits for it (the window is closing); no end handler runs.
    virtual void Stop() = 0;
};

}  // namespace devod
