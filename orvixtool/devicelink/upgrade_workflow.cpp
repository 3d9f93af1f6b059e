// The database update of the Upgrade page: from the button to a confirmed database file.
#include <cstdio>
#include <filesystem>

#include "orvixtool/devicelink/connection_kind.h"
#include "orvixtool/devicelink/upgrade_dlg.h"
#include "orvixtool/web/http_client.h"

using namespace devod;

namespace {

constexpr char kResultSuccess[] = "SUCCESS";
constexpr char kResultDownloadFailed[] = "FAILED TO DOWNLOAD FILE";
constexpr char kResultNoResponse[] = "NO OR UNEXPECTED RESPONSE FROM SERVER";

std::string Format(const char* pattern, const std::string& value) {
    std::string text(std::snprintf(nullptr, 0, pattern, value.c_str()), '\0');
    std::snprintf(text.data(), text.size() + 1, pattern, value.c_str());
    return text;
}

// Restores the cursor however the download ends.
class WaitCursor {
public:
    explicit WaitCursor(IPrompt& prompt) : prompt_(prompt) { prompt_.SetWaitCursor(true); }
    ~WaitCursor() { prompt_.SetWaitCursor(false); }

private:
    IPrompt& prompt_;
};

}  // namespace

void CUpgradeDlgHttp::OnUpdateDatabase() {
    if (!PrepareDatabaseFile()) return;
    if (GetConnectionKind() == kUsbConnection) StartUsbWrite();
}

bool CUpgradeDlgHttp::PrepareDatabaseFile() {
    CHttpClient client;
    std::string email;
    LinkList links;
    for (;;) {
        database_path_.clear();
        std::optional<LoginInput> login = prompt_.LoginDialog();
        if (!login) return false;
        email = login->email;
        if (!client.Login(login->email, login->password)) {
            client.SendLog(email, database_path_, kResultNoResponse);
            if (prompt_.MessageBox(kCannotConnectServerText, "Error", kMbYesNo) == kIdYes) {
                return ManualPath(client, email);
            }
            return false;
        }
        links = client.GetLinks(kCataloguePath);
        if (!links.empty()) break;
        prompt_.FailedLoginDialog();  // a rejected account: ask again
    }

    std::string name;
    for (;;) {
        std::optional<std::string> choice = prompt_.SelectDatabase(links);
        if (!choice) {
            if (prompt_.MessageBox("Do you want to find an update file on your PC?", "",
                                   kMbYesNo) == kIdYes) {
                return ManualPath(client, email);
            }
            return false;
        }
        if (!choice->empty()) {
            name = *choice;
            break;
        }
        prompt_.MessageBox("Please select a database from the list", kAppTitle, kMbOk);
    }

    std::string url = CHttpClient::FindLink(links, name);
    bool downloaded;
    {
        WaitCursor wait(prompt_);
        downloaded = client.DownloadUrl(url, kWorkFile);
    }
    if (downloaded) {
        database_path_ = kWorkFile;
        std::string question = Format("You have selected the \"%s\" database. Upload now?", name);
        if (prompt_.MessageBox(question, kAppTitle, kMbYesNo) != kIdYes) return false;
        client.SendLog(email, name, kResultSuccess);
        return true;
    }
    client.SendLog(email, name, kResultDownloadFailed);
    if (prompt_.MessageBox("Failed to download file.\r\n\r\nDo you want to update manually?",
                           "Error", kMbYesNo) == kIdYes) {
        return ManualPath(client, email);
    }
    return false;
}

bool CUpgradeDlgHttp::ManualPath(CHttpClient& client, const std::string& email) {
    if (!ChooseLocalFile()) return false;
    client.SendLog(email, database_path_, kResultSuccess);
    return true;
}

bool CUpgradeDlgHttp::ChooseLocalFile() {
    FileDialogRequest request;
    request.save = false;
    request.filter = "hdr Files (*.hdr)|*.hdr|";
    request.default_extension = "hdr";
    request.initial_name = "*.hdr";
    request.hide_read_only = true;
    std::optional<std::string> chosen = prompt_.FileDialog(request);
    if (!chosen) return false;
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(*chosen, error);
    database_path_ = error ? *chosen : full.string();
    std::string question = Format("You have selected \" %s \". Are you sure?",
                                  std::filesystem::path(database_path_).filename().string());
    return prompt_.MessageBox(question, kAppTitle, kMbYesNo) == kIdYes;
}
