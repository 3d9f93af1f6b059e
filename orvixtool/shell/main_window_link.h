// What the pages know of the main window: its status field and connection label, which they write
// directly, and the application's title for message box captions. The pages do not know each
// other: both observe the connection model.
#pragma once

#include <string>

namespace devod {

inline constexpr char kAppTitle[] = "DevodTool";

class IMainWindow {
public:
    virtual ~IMainWindow() = default;
    virtual void SetStatus(const std::string& text) = 0;  // control 1002
    virtual std::string Status() const = 0;
    virtual void SetConnectionLabel(const std::string& text) = 0;  // control 1001
    virtual std::string ConnectionLabel() const = 0;
};

}  // namespace devod
