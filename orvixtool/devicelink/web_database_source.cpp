#include "orvixtool/devicelink/web_database_source.h"

#include <cstdio>
#include <filesystem>

#include "orvixtool/shell/main_window_link.h"
#include "orvixtool/web/http_client.h"
#include "orvixtool/web/link_extractor.h"

namespace devod {
namespace {

std::string Format(const char* pattern, const std::string& value) {
    std::string text(std::snprintf(nullptr, 0, pattern, value.c_str()), '\0');
    std::snprintf(text.data(), text.size() + 1, pattern, value.c_str());
    return text;
}

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
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

WebDatabaseSource::WebDatabaseSource(IPrompt& prompt, IWebPrompt& web_prompt,
                                     std::string& database_path)
    : prompt_(prompt), web_prompt_(web_prompt), database_path_(database_path) {}

WebDatabaseSource::~WebDatabaseSource() = default;

std::optional<ConfirmedDatabase> WebDatabaseSource::Prepare() {
    client_ = std::make_unique<CHttpClient>();
    CHttpClient& client = *client_;
    std::string email;
    LinkList links;
    for (;;) {
        database_path_.clear();
        std::optional<LoginInput> login = web_prompt_.LoginDialog();
        if (!login) return std::nullopt;
        email = login->email;
        if (!client.Login(login->email, login->password)) {
            client.SendLog(email, database_path_, kResultNoResponse);
            if (prompt_.MessageBox(kCannotConnectServerText, "Error", kMbYesNo) == kIdYes) {
                return ManualPath(email);
            }
            return std::nullopt;
        }
        try {
            links = client.GetLinks(serial_ ? kSerialCataloguePath : kCataloguePath);
        } catch (const PageError& error) {
            // A page the parser is not trusted with says nothing about the account: the owner
            // is told why and offered the file on the PC.
            std::string question =
                std::string(error.what()) + "\r\n\r\nDo you want to update manually?";
            if (prompt_.MessageBox(question, "Error", kMbYesNo) == kIdYes) {
                return ManualPath(email);
            }
            return std::nullopt;
        }
        if (!links.empty()) break;
        web_prompt_.FailedLoginDialog();  // a rejected account: ask again
    }

    std::string name;
    for (;;) {
        std::optional<std::string> choice = web_prompt_.SelectDatabase(links);
        if (!choice) {
            if (prompt_.MessageBox("Do you want to find an update file on your PC?", "",
                                   kMbYesNo) == kIdYes) {
                return ManualPath(email);
            }
            return std::nullopt;
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
        if (prompt_.MessageBox(question, kAppTitle, kMbYesNo) != kIdYes) return std::nullopt;
        return ConfirmedDatabase{database_path_, name, email};
    }
    client.SendLog(email, name, kResultDownloadFailed);
    if (prompt_.MessageBox("Failed to download file.\r\n\r\nDo you want to update manually?",
                           "Error", kMbYesNo) == kIdYes) {
        return ManualPath(email);
    }
    return std::nullopt;
}

std::optional<ConfirmedDatabase> WebDatabaseSource::ManualPath(const std::string& email) {
    if (!ChooseLocalFile()) return std::nullopt;
    // The log learns which file it was, not where the owner keeps it.
    return ConfirmedDatabase{database_path_, FileName(database_path_), email};
}

void WebDatabaseSource::Report(const ConfirmedDatabase& database, bool written) {
    if (!client_) client_ = std::make_unique<CHttpClient>();
    client_->SendLog(database.email, database.log_name,
                     written ? kResultSuccess : kResultWriteFailed);
}

bool WebDatabaseSource::ChooseLocalFile() {
    FileDialogRequest request;
    request.save = false;
    const std::string type = serial_ ? "mob" : "hdr";
    request.filter = type + " Files (*." + type + ")|*." + type + "|";
    request.default_extension = type;
    request.initial_name = "*." + type;
    request.hide_read_only = true;
    std::optional<std::string> chosen = prompt_.FileDialog(request);
    if (!chosen) return false;
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(*chosen, error);
    database_path_ = error ? *chosen : full.string();
    std::string question =
        Format("You have selected \" %s \". Are you sure?", FileName(database_path_));
    return prompt_.MessageBox(question, kAppTitle, kMbYesNo) == kIdYes;
}

}  // namespace devod
