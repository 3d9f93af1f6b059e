// What the pages know of the main window: its status field and connection label, which they write
// directly, the application's title for message box captions, and the other page. The pages reach
// each other only through here.
#pragma once

#include <string>

class CUpgradeDlgHttp;
class CUserSettingDlg;

namespace devod {

inline constexpr char kAppTitle[] = "DevodTool";

class IMainWindow {
public:
    virtual ~IMainWindow() = default;
    virtual void SetStatus(const std::string& text) = 0;         // control 1002
    virtual std::string Status() const = 0;
    virtual void SetConnectionLabel(const std::string& text) = 0;  // control 1001
    virtual std::string ConnectionLabel() const = 0;
    virtual CUpgradeDlgHttp* UpgradePage() = 0;
    virtual CUserSettingDlg* SettingPage() = 0;
};

}  // namespace devod
