// Every request of the database update from the web shop under every fault the shop stand-in
// can play: the update ends within the (shortened) time-outs, takes its failure branch, never
// replaces the work file by a partial one, and logs "SUCCESS" only for a database that is in the
// device. Prints the table of outcomes at the end.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "orvixtool/devicelink/upgrade_dlg.h"
#include "orvixtool/settingspage/user_setting_dlg.h"
#include "orvixtool/shell/command_guard.h"
#include "orvixtool/testsupport/fake_dialog.h"
#include "orvixtool/testsupport/pages_harness.h"
#include "orvixtool/testsupport/simulated_usb_device.h"
#include "orvixtool/testsupport/test_env.h"
#include "orvixtool/testsupport/ui_queue.h"
#include "orvixtool/web/http_client.h"
#include "sim/shop/z31shop.h"

using namespace devod;
using namespace devod::testing;

namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

enum class Fault { k500, kTruncated, kStall, kDrip, kReset, kEndless, kRedirectLoop };
constexpr Fault kFaults[] = {Fault::k500,   Fault::kTruncated, Fault::kStall,       Fault::kDrip,
                             Fault::kReset, Fault::kEndless,   Fault::kRedirectLoop};

const char* Name(Fault fault) {
    switch (fault) {
        case Fault::k500: return "status 500";
        case Fault::kTruncated: return "truncated body";
        case Fault::kStall: return "stall";
        case Fault::kDrip: return "drip";
        case Fault::kReset: return "reset";
        case Fault::kEndless: return "endless body";
        case Fault::kRedirectLoop: return "redirect loop";
    }
    return "?";
}

struct Request {
    const char* name;
    std::string path;
};

constexpr char kEmail[] = "owner@example.com";
constexpr char kPassword[] = "secret";
constexpr char kOldWorkFile[] = "the database downloaded last time";

// Go on at every question of the update, never take the manual path.
class PolicyPrompt : public ScriptedPrompt {
public:
    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override {
        boxes.push_back({text, caption, style});
        if ((style & 0xF) == kMbOk) return kIdOk;
        if (text.find("Upload now?") != std::string::npos) return kIdYes;
        return kIdNo;
    }
};

void Arm(z31sim::Shop& shop, const std::string& path, Fault fault) {
    switch (fault) {
        case Fault::k500: shop.SetStatus(path, 500); break;
        case Fault::kTruncated: shop.SetTruncate(path, 1); break;
        case Fault::kStall: shop.SetStall(path, true); break;
        // 50 bytes a second, far below the stall rule's 1 KiB/s.
        case Fault::kDrip: shop.SetDripMs(path, 20); break;
        case Fault::kReset: shop.SetReset(path, true); break;
        case Fault::kEndless: shop.SetEndlessBody(path, true); break;
        case Fault::kRedirectLoop: shop.SetRedirect(path, path); break;
    }
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class WebFaultMatrix : public ::testing::Test {
protected:
    // The stall rule in 1 s, the connect in 1 s; downloads without a length end at 1 MiB.
    WebFaultMatrix() {
        CHttpClient::SetTimeouts({1, 1});
        CHttpClient::SetMaxDownloadBytes(1024 * 1024);
    }
    ~WebFaultMatrix() override {
        CHttpClient::SetTimeouts({});
        CHttpClient::SetMaxDownloadBytes(kMaxDatabaseBytes);
    }
    webtest::ConfigHome home_;
};

// One update from the button to the update log, with `fault` on the request `path`.
std::string RunCell(const Request& request, Fault fault) {
    SCOPED_TRACE(std::string(request.name) + " / " + Name(fault));
    webtest::TempDir dir;
    webtest::ScopedCwd cwd(dir.path());
    std::ofstream("tmpDB") << kOldWorkFile;
    ScopedTestClock clock;
    UiQueue ui;
    SimulatedUsbDevice device("webmatrix");
    z31sim::Shop shop;
    webtest::ScopedEnv host("DEVOD_WEB_HOST", "127.0.0.1");
    webtest::ScopedEnv port("DEVOD_WEB_PORT", std::to_string(shop.Port()));
    FakeControls upgrade_controls, settings_controls;
    FakeTimers timers;
    PolicyPrompt prompt;
    FakeMainWindow main;
    ConnectionModel connection;
    auto page =
        std::make_unique<CUpgradeDlgHttp>(upgrade_controls, timers, prompt, prompt, connection);
    CUserSettingDlg settings(settings_controls, prompt, connection);
    page->OnInitDialog();
    settings.OnInitDialog();
    page->SetMainWindow(&main);
    page->SetUiPost([&ui](std::function<void()> call) { ui.Post(std::move(call)); });
    connection.SetKind(kUsbConnection);
    page->EnterState(CUpgradeDlgHttp::State::Connected);

    const z31sim::ShopDatabase db = shop.Config().databases[2];
    const std::string href = shop.DatabaseHref(db);
    prompt.AnswerLogin(LoginInput{kEmail, kPassword});
    prompt.AnswerLogin(std::nullopt);  // asked again after an empty catalogue: cancel
    prompt.choose_database = [href](const LinkList& links) {
        for (const LinkEntry& link : links) {
            if (link.href == href) return std::optional<std::string>(link.text);
        }
        return std::optional<std::string>();
    };
    Arm(shop, request.path, fault);

    const auto start = SteadyClock::now();
    CaptureStdout();  // the client prints its internet failures
    RunCommand(prompt, [&] { page->OnUpdateDatabase(); });
    EXPECT_TRUE(ui.RunUntil([&] { return !page->WriteRunning(); }));
    const std::string printed = GetCapturedStdout();
    const auto took = SteadyClock::now() - start;
    for (unsigned timer :
         {CUpgradeDlgHttp::kTimerWriteDone + 0u, CUpgradeDlgHttp::kTimerWriteFailed + 0u}) {
        if (timers.IsRunning(timer)) page->OnTimer(timer);
    }
    page.reset();
    shop.ClearFaults();

    const std::string file = shop.DatabaseBytes(db.file);
    const std::string work = ReadAll("tmpDB");
    const bool downloaded = work == file;
    const z31sim::Bytes stream = device->ReceivedStream();
    const bool written =
        std::string(stream.begin(), stream.end()) == file.substr(0, 20) + file.substr(1024);
    std::vector<std::string> results;
    for (const auto& record : shop.LogRecords()) results.push_back(record.result);
    const bool success_logged =
        std::find(results.begin(), results.end(), "SUCCESS") != results.end();

    // The work file is the old one or the whole new one, never a part; no part file is left.
    EXPECT_TRUE(work == kOldWorkFile || downloaded) << work.size() << " bytes in tmpDB";
    EXPECT_FALSE(fs::exists("tmpDB.part"));
    // Only a whole download is written, and only a written database is logged as a success.
    if (!downloaded) {
        EXPECT_TRUE(stream.empty());
    }
    if (success_logged) {
        EXPECT_TRUE(written);
    }
    EXPECT_EQ(stream.empty() || written, true) << "a partial database in the device";
    EXPECT_LT(took, std::chrono::seconds(30));
    const bool before_download = request.path != z31sim::kUpdateLogPath;
    const bool after_login = request.path != z31sim::kLogoutPath;
    if (before_download && after_login) {
        // Login, catalogue or download failed: the failure branch, nothing written.
        EXPECT_FALSE(written);
        EXPECT_FALSE(downloaded);
    }
    if (!before_download) {
        EXPECT_TRUE(written);  // the log comes after the write
    }

    // What the owner was told, without the questions the policy answered.
    std::string told;
    for (const auto& box : prompt.boxes) {
        if (box.caption == "Backup") continue;
        std::string text = box.text.substr(0, box.text.find_first_of("\r\n"));
        if (text.size() > 40) text = text.substr(0, 40) + "...";
        told += (told.empty() ? "" : " / ") + ("\"" + text + "\"");
    }
    if (prompt.failed_logins > 0) told += (told.empty() ? "" : " / ") + std::string("login again");
    std::string outcome = written ? "written" : "not written";
    outcome += downloaded ? ", new tmpDB" : ", kept old tmpDB";
    outcome += ", log " + (results.empty() ? std::string("none") : results.back());
    if (!told.empty()) outcome += ", " + told;
    (void)printed;
    return outcome;
}

}  // namespace

TEST_F(WebFaultMatrix, EveryRequestOfTheUpdateUnderEveryFaultFailsCleanly) {
    const std::vector<Request> requests = {
        {"logout (GET)", z31sim::kLogoutPath},
        {"login (POST)", z31sim::kLoginPath},
        {"catalogue page (GET)", z31sim::kCataloguePath},
        {"database download (GET)", std::string(z31sim::kDatabaseDir) + "z31uk2611.hdr"},
        {"update log (POST)", z31sim::kUpdateLogPath},
    };
    std::map<std::pair<size_t, size_t>, std::string> cells;
    for (size_t r = 0; r < requests.size(); ++r) {
        for (size_t c = 0; c < std::size(kFaults); ++c) {
            cells[{r, c}] = RunCell(requests[r], kFaults[c]);
        }
    }
    std::printf("\nWeb fault matrix (request, then the update's outcome under each fault)\n");
    for (size_t r = 0; r < requests.size(); ++r) {
        std::printf("\n%s\n", requests[r].name);
        for (size_t c = 0; c < std::size(kFaults); ++c) {
            std::printf("  %-15s %s\n", Name(kFaults[c]), cells[{r, c}].c_str());
        }
    }
    std::fflush(stdout);
}
