// The database update's web source: login, catalogue, the owner's choice and the download into
// "tmpDB", or a file picked on the PC; and the update log, told how the write ended.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "orvixtool/devicelink/database_source.h"
#include "orvixtool/shell/dialog_host.h"
#include "orvixtool/web/web_prompt.h"

class CHttpClient;

namespace devod {

class WebDatabaseSource : public IDatabaseSource {
public:
    static constexpr char kCataloguePath[] = "/kvshop/section.php?xSec=374";
    // The catalogue of databases for devices on a serial port (".mob" files).
    static constexpr char kSerialCataloguePath[] = "/kvshop/section.php?xSec=379";
    static constexpr char kWorkFile[] = "tmpDB";
    static constexpr char kCannotConnectServerText[] =
        "Cannot connect to server.\r\nPlease check your internet connection is working normally"
        "\r\n\t\t\t\t\t\t\t\t and your security settings are not preventing the Z31 Software "
        "Tool\r\nfrom accessing the internet.\r\n\r\nDo you want to update manually?";
    // The update log's result words.
    static constexpr char kResultSuccess[] = "SUCCESS";
    static constexpr char kResultDownloadFailed[] = "FAILED TO DOWNLOAD FILE";
    static constexpr char kResultNoResponse[] = "NO OR UNEXPECTED RESPONSE FROM SERVER";
    // Sent when a confirmed file did not get into the device.
    static constexpr char kResultWriteFailed[] = "FAILED TO WRITE DEVICE";

    // `database_path` is the page's database file path, which every run sets.
    WebDatabaseSource(IPrompt& prompt, IWebPrompt& web_prompt, std::string& database_path);
    ~WebDatabaseSource() override;

    // Login, catalogue, choice and download, or a file picked on the PC. Throws
    // devod::CommandError for a failure of the internet layer in the login or the log.
    std::optional<ConfirmedDatabase> Prepare() override;
    // "SUCCESS" for a written file, kResultWriteFailed otherwise, on the run's client.
    void Report(const ConfirmedDatabase& database, bool written) override;

    // The manual path: the open-file dialog and the owner's confirmation.
    bool ChooseLocalFile();

    // For a device on a serial port: its catalogue and the ".mob" file type; otherwise the USB
    // device's catalogue and ".hdr".
    void SetSerialLink(bool serial) { serial_ = serial; }

private:
    std::optional<ConfirmedDatabase> ManualPath(const std::string& email);

    IPrompt& prompt_;
    IWebPrompt& web_prompt_;
    std::string& database_path_;
    std::unique_ptr<CHttpClient> client_;  // the run's session, kept for the log
    bool serial_ = false;
};

}  // namespace devod
