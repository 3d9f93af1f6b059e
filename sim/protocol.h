// What the device answers to each command line, and the mode it is in. No I/O here: the device
// thread feeds complete lines in and sends what comes out.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "sim/z31sim.h"

namespace z31sim {

class Protocol {
public:
    explicit Protocol(const DeviceConfig& cfg);

    // Runs one command line (without its "\r") and returns the bytes to answer with; empty when
    // the device does not answer. May switch the mode.
    std::string Execute(const std::string& line);

    Mode mode() const { return mode_; }
    // The line speed the device listens and talks at in the current mode.
    int LineBaud() const;

private:
    using Handler = std::string (*)(Protocol& self, const std::string& line);
    // One command: in which mode it is understood, its text, and what it does. Adding a command
    // is adding a row to the table in protocol.cpp.
    struct Command {
        Mode mode;
        std::string_view text;
        Handler run;
    };
    static std::span<const Command> Commands();

    // "OK!" followed by a value, as the version and identity queries answer.
    static std::string Answer(std::string_view value);

    DeviceConfig cfg_;
    Mode mode_;
};

}  // namespace z31sim
