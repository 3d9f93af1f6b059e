// The page's export of the device's user points to a tab-separated ".xls" file.
#include <algorithm>
#include <string>

#include "orvixtool/devicelink/pipe_bridge.h"
#include "orvixtool/settingspage/device_exchange.h"
#include "orvixtool/settingspage/settings_codec.h"
#include "orvixtool/settingspage/user_point_export.h"
#include "orvixtool/settingspage/user_setting_dlg.h"
#include "qvlib/util/clock.h"

using namespace devod::usersettings;

namespace {

devod::FileDialogRequest SaveAsRequest() {
    devod::FileDialogRequest request;
    request.save = true;
    request.default_extension = "xls";
    request.initial_name = "*.xls";
    // The spreadsheet file first (the default), GPX for map programs beside it.
    request.filter = "csv Files (*.xls)|*.xls|GPX Files (*.gpx)|*.gpx|";
    request.overwrite_prompt = true;
    request.hide_read_only = true;
    return request;
}

// Asks the owner where to save the points and saves them. Returns the text of the closing message
// box.
std::string SaveUserPoints(const std::vector<UserPoint>& points, devod::IPrompt& prompt) {
    if (points.empty()) return "NO user DB ";
    auto path = prompt.FileDialog(SaveAsRequest());
    if (!path) return "Canceled to save user db";
    const std::string text =
        IsGpxFileName(*path) ? FormatUserPointsGpx(points) : FormatUserPoints(points);
    const std::string error = SaveTextFile(*path, text);
    return error.empty() ? " Save User DB : Completed!" : error;
}

// Asks the device for its user points over the open pipes, then saves them. The pipes stay open
// meanwhile: the exchange is ended only after the Save As dialog.
std::string FetchAndSaveUserPoints(DeviceExchange& exchange, devod::IPrompt& prompt) {
    std::string error;
    const auto points = FetchUserPoints(exchange, &error);
    if (!points) return error;
    return SaveUserPoints(*points, prompt);
}

}  // namespace

namespace devod::usersettings {

std::optional<std::vector<UserPoint>> FetchUserPoints(DeviceExchange& exchange,
                                                      std::string* error) {
    if (!exchange.Send(ReadRequest(kUserPoints))) {
        *error = "Cannot ask the Z31 for the user DB: " + devod::LastErrorText();
        return std::nullopt;
    }
    util::SleepMs(kReplyDelayMs);
    std::array<uint8_t, kReplySize> reply{};
    size_t received = 0;
    if (!exchange.Receive(reply, &received)) {
        *error = devod::LastErrorText();
        return std::nullopt;
    }
    const size_t count = reply[0];
    if (count == 0) return std::vector<UserPoint>{};

    // Two reads of up to 512 bytes, 50 points in the first 500 bytes of each. A transfer too
    // short for the points the count gives it is a failed read: the points it lacks would
    // otherwise be saved as made-up zeros. What lies beyond the counted points may be missing.
    const size_t counted = std::min(count, kMaxUserPoints);
    PointBytes bytes{};
    for (size_t part = 0; part < 2; ++part) {
        std::array<uint8_t, kPointReadSize> block{};
        if (!exchange.Receive(block, &received)) {
            *error = "Cannot read the user DB from the Z31: " + devod::LastErrorText();
            return std::nullopt;
        }
        const size_t first = part * kPointsPerRead;
        const size_t needed =
            counted > first ? std::min(counted - first, kPointsPerRead) * kPointSize : 0;
        if (received < needed) {
            *error = "Cannot read the user DB from the Z31: " + std::to_string(received) +
                     " of the " + std::to_string(needed) + " bytes of its points arrived";
            return std::nullopt;
        }
        const size_t part_size = kPointsPerRead * kPointSize;
        std::copy_n(block.begin(), part_size, bytes.begin() + part * part_size);
    }
    // The device holds at most 100 points: a larger count gives the 100 received.
    return DecodeUserPoints(bytes, count);
}

}  // namespace devod::usersettings

void CUserSettingDlg::ExportUserPoints() {
    if (!DeviceReady()) return;
    if (SerialReady()) {
        ExportSerialUserPoints();
        return;
    }
    std::string result;
    {
        DeviceExchange exchange(connection_);
        if (!exchange.Begin()) return;
        if (!exchange.Open(/*probe=*/true, /*open_input=*/true)) return;
        result = FetchAndSaveUserPoints(exchange, prompt_);
        exchange.End();
    }
    prompt_.MessageBox(result, devod::kAppTitle, devod::kMbOk);
}

void CUserSettingDlg::ExportSerialUserPoints() {
    std::string result = kSerialFailedText;
    if (RunSerialRequest(&devod::IQvLink::ReqGetUserDB)) {
        std::vector<UserPoint> points;
        for (const UserPointEntry& p : qv_->GetUserPoints(connection_.Port())) {
            points.push_back({static_cast<uint16_t>(p.direction), p.latitude, p.longitude});
        }
        result = SaveUserPoints(points, prompt_);
    }
    prompt_.MessageBox(result, devod::kAppTitle, devod::kMbOk);
}
