// A stand-in of QVLib for the pages' tests: every request is accepted (unless scripted not to),
// runs for a scripted number of state polls and ends with a scripted result. One port; the calls
// are recorded by name.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "orvixtool/devicelink/qv_link.h"

namespace devod {

class ScriptedQvLink : public IQvLink {
public:
    struct Reply {
        bool accepted = true;
        int polls = 1;                // state polls that still see the request running
        int result = 1;               // the query result at its end
        int mode = 2;                 // what GetDeviceModeResult gives after a mode check
        std::string text = {};        // what GetVersionResult gives after a query
        std::vector<int> found = {};  // the ports a search reports
    };

    // The replies of one request, in the order it is made; further calls get the last one (or
    // the default when none was scripted).
    void Script(const std::string& request, std::vector<Reply> replies) {
        script_[request] = std::deque<Reply>(replies.begin(), replies.end());
    }

    std::vector<std::string> calls;
    std::vector<std::string> written_paths;
    std::vector<std::pair<std::string, int>> opened;
    std::vector<int> closed;
    int progress_min = 0, progress_max = 100, progress_pos = 0;

    std::vector<std::string> models = {"Z21PRO", "Z31STD", "Z40PRO"};
    std::vector<std::string> ModelNames() override { return models; }
    int OpenDevice(const std::string& model, int port) override {
        calls.push_back("OpenDevice");
        opened.emplace_back(model, port);
        return Next("OpenDevice").accepted ? 1 : 0;
    }
    int CloseDevice(int port) override {
        calls.push_back("CloseDevice");
        closed.push_back(port);
        return 1;
    }
    int GetQueryState(int) override {
        if (state_ == 1 && polls_left_-- <= 0) {
            state_ = 2;
            result_ = running_.result;
            mode_ = running_.mode;
            text_ = running_.text;
            // A read that ends well fills the session's lists.
            if (result_ == 1 && pending_settings_) settings = *pending_settings_;
            if (result_ == 1 && pending_points_) points = *pending_points_;
            pending_settings_.reset();
            pending_points_.reset();
        }
        return state_;
    }
    int GetQueryResult(int) override { return result_; }
    int GetQueryProgressMin(int) override { return progress_min; }
    int GetQueryProgressMax(int) override { return progress_max; }
    int GetQueryProgressPos(int) override { return progress_pos; }
    int ReqGetDeviceMode(int) override { return Begin("ReqGetDeviceMode"); }
    int GetDeviceModeResult(int) override { return mode_; }
    int ReqSetDeviceDNMode(int) override { return Begin("ReqSetDeviceDNMode"); }
    int ReqEraseDB(int) override { return Begin("ReqEraseDB"); }
    int ReqWriteDB(int, const std::string& path) override {
        written_paths.push_back(path);
        return Begin("ReqWriteDB");
    }
    int ReqGetFWVersion(int) override { return Begin("ReqGetFWVersion"); }
    int ReqGetDBVersion(int) override { return Begin("ReqGetDBVersion"); }
    int ReqGetSerialNumber(int) override { return Begin("ReqGetSerialNumber"); }
    std::string GetVersionResult(int) override { return text_; }
    int ReqGetUserSetting(int) override {
        const int accepted = Begin("ReqGetUserSetting");
        if (accepted) pending_settings_ = device_settings;
        return accepted;
    }
    int ReqSetUserSetting(int) override {
        const int accepted = Begin("ReqSetUserSetting");
        if (accepted) device_settings = settings;
        return accepted;
    }
    int ReqGetUserDB(int) override {
        const int accepted = Begin("ReqGetUserDB");
        if (accepted) points.clear();
        if (accepted) pending_points_ = device_points;
        return accepted;
    }
    int ReqSetUserDB(int) override {
        const int accepted = Begin("ReqSetUserDB");
        if (accepted) device_points = points;
        return accepted;
    }
    SerialSettings GetSettings(int) override { return settings; }
    void SetSettings(int, const SerialSettings& s) override { settings = s; }
    std::vector<UserPointEntry> GetUserPoints(int) override { return points; }
    void SetUserPoints(int, const std::vector<UserPointEntry>& p) override { points = p; }
    // What the device holds, and the session's lists (filled when a read ends well).
    SerialSettings device_settings, settings;
    std::vector<UserPointEntry> device_points, points;

    int ReqFindDevice(const std::string& model) override {
        calls.push_back("ReqFindDevice " + model);
        searching_ = Next("ReqFindDevice " + model);
        if (!searching_.accepted) return 0;
        search_polls_ = searching_.polls;
        return 1;
    }
    int FindDeviceState() override { return search_polls_-- > 0 ? 1 : 2; }
    int GetFoundDeviceCount() override { return static_cast<int>(searching_.found.size()); }
    int GetFoundDevicePort(int index) override {
        return index >= 0 && index < GetFoundDeviceCount() ? searching_.found[index] : 0;
    }

private:
    Reply Next(const std::string& request) {
        auto it = script_.find(request);
        if (it == script_.end() || it->second.empty()) return Reply{};
        Reply r = it->second.front();
        if (it->second.size() > 1) it->second.pop_front();
        return r;
    }
    int Begin(const std::string& request) {
        calls.push_back(request);
        Reply r = Next(request);
        if (!r.accepted) return 0;
        running_ = r;
        state_ = 1;
        polls_left_ = r.polls;
        return 1;
    }

    std::map<std::string, std::deque<Reply>> script_;
    Reply running_, searching_;
    int state_ = 0, result_ = 0, mode_ = 0, polls_left_ = 0, search_polls_ = 0;
    std::string text_;
    std::optional<SerialSettings> pending_settings_;
    std::optional<std::vector<UserPointEntry>> pending_points_;
};

}  // namespace devod
