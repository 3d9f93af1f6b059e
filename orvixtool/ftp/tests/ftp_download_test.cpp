// The FTP download dialog's behaviour on a scripted transfer, fake controls and timers: which
// status and result each outcome gives, the progress bar, and that a cancel stops the worker.
#include "orvixtool/ftp/ftp_download.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "orvixtool/testsupport/fake_dialog.h"

namespace devod {
namespace {

using testing::FakeControls;
using testing::FakeTimers;
using testing::ScriptedPrompt;

class ScriptedSession : public IFtpSession {
public:
    bool Connect(const std::string& host, const std::string& user,
                 const std::string& password) override {
        connects.push_back(host + "|" + user + "|" + password);
        return connect_ok;
    }
    int ErrorCode() const override { return error; }
    bool GetRemoteSize(const std::string& name) override {
        sized = name;
        return size_ok;
    }
    uint32_t FileSize() const override { return size; }
    bool Download(const std::string& remote, const std::string& local, IFtpNotify* notify,
                  const std::atomic<bool>* cancel) override {
        downloads.push_back(remote + ">" + local);
        for (uint32_t got = 1000; got <= size; got += 1000) notify->Post(kMsgFtpProgress, got);
        // Holds on until released or cancelled, as a long transfer would.
        // The cancel flag comes without a notification: look at it every few milliseconds.
        std::unique_lock lock(mutex);
        while (!release && !cancel->load()) released.wait_for(lock, std::chrono::milliseconds(5));
        return download_ok && !cancel->load();
    }
    std::string DownloadError() const override { return download_error; }
    void Disconnect() override { ++disconnects; }

    void Release() {
        std::lock_guard lock(mutex);
        release = true;
        released.notify_all();
    }

    bool connect_ok = true;
    bool size_ok = true;
    bool download_ok = true;
    int error = 0;
    uint32_t size = 3000;
    std::string download_error;
    std::vector<std::string> connects;
    std::vector<std::string> downloads;
    std::string sized;
    int disconnects = 0;

private:
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
};

class FtpDownloadTest : public ::testing::Test {
protected:
    FtpDownloadTest()
        : flow(
              session, controls, timers, prompt,
              [this](unsigned m, uintptr_t w) {
                  std::lock_guard lock(queue_mutex);
                  queue.emplace_back(m, w);
                  queued.notify_all();
              },
              [this](int r) { results.push_back(r); },
              {"ftp.example.com", "bob", "secret", "db/tmpDB.bin", "tmpDB"}) {}

    // Hands the dialog's thread every message posted so far, waiting for at least `count`.
    void Deliver(size_t count) {
        std::deque<std::pair<unsigned, uintptr_t>> got;
        {
            std::unique_lock lock(queue_mutex);
            queued.wait_for(lock, std::chrono::seconds(10), [&] { return queue.size() >= count; });
            got.swap(queue);
        }
        for (auto [m, w] : got) flow.OnMessage(m, w);
    }
    void Open() {
        flow.OnInitDialog();
        ASSERT_EQ(timers.running.at(FtpDownloadFlow::kTimerStart), 500u);
        flow.OnTimer(FtpDownloadFlow::kTimerStart);
    }

    ScriptedSession session;
    FakeControls controls;
    FakeTimers timers;
    ScriptedPrompt prompt;
    std::mutex queue_mutex;
    std::condition_variable queued;
    std::deque<std::pair<unsigned, uintptr_t>> queue;
    std::vector<int> results;
    FtpDownloadFlow flow;  // last: destroyed first, joining its worker
};

}  // namespace

TEST_F(FtpDownloadTest, AWholeTransferShowsItsProgressAndClosesWithOk) {
    Open();
    EXPECT_FALSE(timers.IsRunning(FtpDownloadFlow::kTimerStart));
    EXPECT_EQ(session.connects, std::vector<std::string>{"ftp.example.com|bob|secret"});
    EXPECT_EQ(session.sized, "db/tmpDB.bin");
    ProgressState& bar = controls.Progress(FtpDownloadFlow::kIdProgress);
    EXPECT_EQ(bar.Maximum(), 3000);
    EXPECT_EQ(bar.BarColour(), 0xFF6633u);
    EXPECT_EQ(bar.TextBkColour(), 0xFFFFFFu);
    EXPECT_TRUE(bar.ShowPercent());
    Deliver(3);
    EXPECT_EQ(bar.Pos(), 3000);
    EXPECT_TRUE(results.empty());

    session.Release();
    Deliver(1);
    EXPECT_EQ(results, std::vector<int>{FtpDownloadFlow::kOk});
    EXPECT_EQ(flow.status(), FtpDownloadFlow::kStatusDone);
    EXPECT_EQ(bar.Pos(), 0);
    EXPECT_EQ(session.downloads, std::vector<std::string>{"db/tmpDB.bin>tmpDB"});
    EXPECT_FALSE(flow.WorkerRunning());
    EXPECT_EQ(session.disconnects, 1);
}

TEST_F(FtpDownloadTest, ConnectAndSizeFailuresEndWithTheirStatusAndNoWorker) {
    session.connect_ok = false;
    session.error = CFtpTransfer::kErrorLogin;
    Open();
    EXPECT_EQ(flow.status(), FtpDownloadFlow::kStatusLoginRejected);
    EXPECT_EQ(results, std::vector<int>{FtpDownloadFlow::kCancel});
    EXPECT_FALSE(flow.WorkerRunning());
    EXPECT_TRUE(session.downloads.empty());
}

TEST(FtpDownloadStatus, UnreachableAndMissingFile) {
    for (bool reachable : {false, true}) {
        ScriptedSession session;
        session.connect_ok = reachable;
        session.error = reachable ? 0 : CFtpTransfer::kErrorUnreachable;
        session.size_ok = false;
        FakeControls controls;
        FakeTimers timers;
        ScriptedPrompt prompt;
        std::vector<int> results;
        FtpDownloadFlow flow(
            session, controls, timers, prompt, [](unsigned, uintptr_t) {},
            [&](int r) { results.push_back(r); }, {});
        flow.OnInitDialog();
        flow.OnTimer(FtpDownloadFlow::kTimerStart);
        EXPECT_EQ(flow.status(), reachable ? FtpDownloadFlow::kStatusNotFound
                                           : FtpDownloadFlow::kStatusUnreachable);
        EXPECT_EQ(results, std::vector<int>{FtpDownloadFlow::kCancel});
        EXPECT_FALSE(flow.WorkerRunning());
        EXPECT_EQ(session.disconnects, 1);
    }
}

TEST_F(FtpDownloadTest, AFileThatCannotBeStoredIsToldAndEndsAsAFailure) {
    session.download_ok = false;
    session.download_error = "cannot write \"tmpDB\": Permission denied";
    prompt.AnswerBox(1);
    Open();
    session.Release();
    Deliver(4);
    ASSERT_EQ(prompt.boxes.size(), 1u);
    EXPECT_EQ(prompt.boxes[0].text, session.download_error);
    EXPECT_EQ(results, std::vector<int>{FtpDownloadFlow::kCancel});
    EXPECT_EQ(flow.status(), FtpDownloadFlow::kStatusFailed);
}

TEST_F(FtpDownloadTest, CancelStopsAndJoinsTheWorkerAndLaterMessagesAreIgnored) {
    Open();
    ASSERT_TRUE(flow.WorkerRunning());
    flow.OnCancel();  // the scripted download returns only when cancelled
    EXPECT_FALSE(flow.WorkerRunning());
    EXPECT_EQ(results, std::vector<int>{FtpDownloadFlow::kCancel});
    Deliver(4);  // its progress and its failure arrive after the dialog closed
    EXPECT_EQ(results.size(), 1u);
    EXPECT_TRUE(prompt.boxes.empty());
}

TEST_F(FtpDownloadTest, TheOtherTimersCloseAsDoneOrNotFound) {
    flow.OnInitDialog();
    flow.OnTimer(FtpDownloadFlow::kTimerNotFound);
    EXPECT_EQ(flow.status(), FtpDownloadFlow::kStatusNotFound);
    EXPECT_EQ(results, std::vector<int>{FtpDownloadFlow::kCancel});
    flow.OnTimer(FtpDownloadFlow::kTimerStart);  // closed: nothing starts
    EXPECT_TRUE(session.connects.empty());
}

TEST_F(FtpDownloadTest, DestroyingTheFlowMidTransferJoinsTheWorker) {
    auto own = std::make_unique<FtpDownloadFlow>(
        session, controls, timers, prompt, [](unsigned, uintptr_t) {}, [](int) {},
        FtpDownloadRequest{"h", "u", "p", "r", "l"});
    own->OnInitDialog();
    own->OnTimer(FtpDownloadFlow::kTimerStart);
    ASSERT_TRUE(own->WorkerRunning());
    own.reset();  // must not leave the worker running on a dead flow
    EXPECT_EQ(session.downloads.size(), 1u);
}

}  // namespace devod
