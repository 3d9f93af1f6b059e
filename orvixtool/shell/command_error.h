// The one failure type that ends an owner's command: the program's top-level handler (RunCommand)
// catches it and shows its text with a stop icon. The internet, file and page failures of the web
// client derive from it; nothing else is caught there.
#pragma once

#include <stdexcept>
#include <string>

namespace devod {

class CommandError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace devod
