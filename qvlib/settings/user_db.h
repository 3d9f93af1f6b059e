// qv::CGetUserDB and qv::CSetUserDB: the user point database between the session's list and the
// device, one user point line a record (see records.h), at the port's current rate.
//
// Both gather the device's reply by a timed collection: reads of up to 100 ms each at the fill
// position for one second of read time in all, whatever arrives (the last read waits no longer
// than the budget left). A read whose reply is still coming in
// when that second is over, without "Completed!" and "$9999*" yet, goes on reading until a read
// stays silent, the markers have come or the buffer is full, at most for the wire time of a full
// buffer and a second more: at 115200 baud a second carries only about 180 of the 300 lines the
// buffer holds.
//
// Read: "ru\r", "y", the collection into a 20480-byte buffer. It succeeds when the reply holds
// "Completed!", a "$0000*" line and "$9999*" after it; then every "$" line up to the one numbered
// 9999 that passes the keep check is appended, in order. ReqGetUserDB empties the list before.
// Lines from the device with fewer than 61 characters before their CR LF lack words and are
// dropped like a record that fails the check; of a longer line the 11 words at their fixed places
// are read. Nothing is read past a line's CR or the buffer's end.
//
// Write: "wu\r", "y", then each record of the copy taken at the request as its line,
// numbered from 0000, words 2 and 5 written as 0000, with no pause between lines; then "$9999*"
// with a CR alone, and the collection, which must hold "WriteSucceed!". Line number 9999 ends the
// database, so a copy of more than 9999 records cannot be written: such a write fails (result 2)
// before anything is sent, rather than reporting success for a database it cut.
#pragma once

#include <vector>

#include "qvlib/session/command.h"
#include "qvlib/settings/records.h"

namespace qv {

constexpr size_t kMaxUserPointsWritten = 9999;

class CGetUserDB : public CCommand {
public:
    CGetUserDB(CSerialPort* port, CProgressInfo* progress, const ModelInfo* model,
               SessionLists* lists)
        : CCommand(port, progress, model), lists_(lists) {}

    int Execute() override;

private:
    SessionLists* lists_;  // the session's
};

class CSetUserDB : public CCommand {
public:
    CSetUserDB(CSerialPort* port, CProgressInfo* progress, const ModelInfo* model,
               std::vector<UserPointRecord> copy)
        : CCommand(port, progress, model), copy_(std::move(copy)) {}

    int Execute() override;

private:
    std::vector<UserPointRecord> copy_;
};

}  // namespace qv
