#include "orvixtool/ftp/ftp_transfer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "orvixtool/ftp/tests/ftp_test_server.h"

namespace devod {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

void WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Keeps the progress totals; Post may come from another thread than the one that reads them.
class Recorder : public IFtpNotify {
public:
    void Post(unsigned message, uintptr_t wparam) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (message == kMsgFtpProgress)
            totals_.push_back(wparam);
        else
            others_++;
        changed_.notify_all();
    }
    std::vector<uintptr_t> totals() {
        std::lock_guard<std::mutex> lock(mutex_);
        return totals_;
    }
    int others() {
        std::lock_guard<std::mutex> lock(mutex_);
        return others_;
    }
    // True once some total reached `bytes`, false after `limit`.
    bool WaitFor(uintptr_t bytes, std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit,
                                 [&] { return !totals_.empty() && totals_.back() >= bytes; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uintptr_t> totals_;
    int others_ = 0;
};

class FtpTransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ftp_transfer_XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        work_ = pattern;
        root_ = work_ + "/served";
        local_ = work_ + "/local";
        fs::create_directories(root_);
        fs::create_directories(local_);
    }
    void TearDown() override {
        server_.Stop();
        std::error_code ignored;
        fs::remove_all(work_, ignored);
    }

    // Starts the server (once per test); a missing python3 or pyftpdlib fails the test.
    void StartServer(long size_delta = 0, long bytes_per_second = 0) {
        std::string why = server_.Start(root_, work_, size_delta, bytes_per_second);
        ASSERT_EQ(why, "");
    }
    // A transfer logged in to the server, with short time-outs so that nothing waits long.
    void ConnectTransfer(CFtpTransfer& transfer) {
        transfer.SetTimeoutSeconds(5);
        ASSERT_TRUE(transfer.Connect("127.0.0.1", "bob", "secret"));
        ASSERT_TRUE(transfer.IsConnected());
    }
    // Neither the old local file changed nor a ".part" left.
    void ExpectUntouched(const std::string& name, const std::string& old_bytes) {
        std::string now = ReadFile(name);
        EXPECT_TRUE(now == old_bytes) << name << " changed: " << now.size() << " bytes now, "
                                      << old_bytes.size() << " before";
        EXPECT_FALSE(fs::exists(name + ".part"));
    }

    std::string work_, root_, local_;
    testing::FtpTestServer server_;
};

TEST_F(FtpTransferTest, DownloadReplacesTheLocalFileAndReportsRisingTotals) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    const std::string bytes = RandomBytes(3 * 1024 * 1024 + 17, 1);
    WriteFile(root_ + "/db.bin", bytes);
    const std::string local = local_ + "/db.bin";
    WriteFile(local, "the old database");

    CFtpTransfer transfer(server_.port());
    ASSERT_NO_FATAL_FAILURE(ConnectTransfer(transfer));
    Recorder recorder;
    ASSERT_TRUE(transfer.Download("db.bin", local, &recorder));
    EXPECT_EQ(transfer.FileSize(), bytes.size());
    EXPECT_EQ(transfer.DownloadError(), "");
    EXPECT_TRUE(ReadFile(local) == bytes) << "the local file differs from the remote one";
    EXPECT_FALSE(fs::exists(local + ".part"));

    std::vector<uintptr_t> totals = recorder.totals();
    ASSERT_GT(totals.size(), 1u);
    for (size_t i = 1; i < totals.size(); ++i) ASSERT_GT(totals[i], totals[i - 1]) << i;
    EXPECT_EQ(totals.back(), bytes.size());
    EXPECT_EQ(recorder.others(), 0);

    // The same session fetches again, without a notify, over the file it just wrote.
    const std::string second = RandomBytes(1000, 2);
    WriteFile(root_ + "/db.bin", second);
    ASSERT_TRUE(transfer.Download("db.bin", local, nullptr));
    EXPECT_TRUE(ReadFile(local) == second);
}

TEST_F(FtpTransferTest, RemoteNamesAreEscapedSegmentBySegment) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    fs::create_directories(root_ + "/map data/eu #1");
    const std::string bytes = RandomBytes(4096, 3);
    WriteFile(root_ + "/map data/eu #1/a%b?c;type=a.bin", bytes);

    CFtpTransfer transfer(server_.port());
    ASSERT_NO_FATAL_FAILURE(ConnectTransfer(transfer));
    ASSERT_TRUE(transfer.GetRemoteSize("map data/eu #1/a%b?c;type=a.bin"));
    EXPECT_EQ(transfer.FileSize(), bytes.size());
    ASSERT_TRUE(transfer.GetRemoteSize("/map data/eu #1/a%b?c;type=a.bin"));  // absolute
    ASSERT_TRUE(transfer.Download("map data/eu #1/a%b?c;type=a.bin", local_ + "/a.bin", nullptr));
    EXPECT_TRUE(ReadFile(local_ + "/a.bin") == bytes);
}

TEST_F(FtpTransferTest, SizeOfMissingEmptyAndNamelessFiles) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    WriteFile(root_ + "/empty.bin", "");
    WriteFile(root_ + "/five.bin", "12345");
    fs::create_directories(root_ + "/folder");

    CFtpTransfer transfer(server_.port());
    EXPECT_FALSE(transfer.GetRemoteSize("five.bin")) << "not connected yet";
    ASSERT_NO_FATAL_FAILURE(ConnectTransfer(transfer));

    ASSERT_TRUE(transfer.GetRemoteSize("five.bin"));
    EXPECT_EQ(transfer.FileSize(), 5u);
    EXPECT_EQ(transfer.ErrorCode(), CFtpTransfer::kErrorNone);

    // An empty file is there but useless: false, and no error code, since it is not missing.
    EXPECT_FALSE(transfer.GetRemoteSize("empty.bin"));
    EXPECT_EQ(transfer.FileSize(), 0u);
    EXPECT_EQ(transfer.ErrorCode(), CFtpTransfer::kErrorNone);

    EXPECT_FALSE(transfer.GetRemoteSize("missing.bin"));
    EXPECT_EQ(transfer.ErrorCode(), CFtpTransfer::kErrorNoFile);
    EXPECT_EQ(transfer.FileSize(), 0u);

    EXPECT_FALSE(transfer.GetRemoteSize("folder"));
    EXPECT_EQ(transfer.ErrorCode(), CFtpTransfer::kErrorNoFile);
    EXPECT_FALSE(transfer.GetRemoteSize(""));
    EXPECT_EQ(transfer.ErrorCode(), CFtpTransfer::kErrorNoFile);

    // The session still works after the refusals; Disconnect forgets it and the size.
    ASSERT_TRUE(transfer.GetRemoteSize("five.bin"));
    EXPECT_TRUE(transfer.Disconnect());
    EXPECT_FALSE(transfer.IsConnected());
    EXPECT_EQ(transfer.FileSize(), 0u);
    EXPECT_FALSE(transfer.GetRemoteSize("five.bin"));
    EXPECT_FALSE(transfer.Download("five.bin", local_ + "/five.bin", nullptr));
    EXPECT_FALSE(fs::exists(local_ + "/five.bin"));
}

TEST_F(FtpTransferTest, DownloadOfMissingOrEmptyFileLeavesTheLocalFile) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    WriteFile(root_ + "/empty.bin", "");
    const std::string local = local_ + "/db.bin";
    WriteFile(local, "old");

    CFtpTransfer transfer(server_.port());
    ASSERT_NO_FATAL_FAILURE(ConnectTransfer(transfer));
    EXPECT_FALSE(transfer.Download("missing.bin", local, nullptr));
    EXPECT_EQ(transfer.ErrorCode(), CFtpTransfer::kErrorNoFile);
    EXPECT_FALSE(transfer.Download("empty.bin", local, nullptr));
    ExpectUntouched(local, "old");
}

TEST_F(FtpTransferTest, ConnectTellsRejectedLoginFromNoServer) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    CFtpTransfer transfer(server_.port());
    transfer.SetTimeoutSeconds(5);
    EXPECT_FALSE(transfer.Connect("127.0.0.1", "bob", "wrong"));
    EXPECT_EQ(transfer.ErrorCode(), CFtpTransfer::kErrorLogin);
    EXPECT_FALSE(transfer.IsConnected());
    EXPECT_FALSE(transfer.Connect("127.0.0.1", "nobody", "secret"));
    EXPECT_EQ(transfer.ErrorCode(), CFtpTransfer::kErrorLogin);

    // A good login after a bad one clears the error.
    EXPECT_TRUE(transfer.Connect("127.0.0.1", "bob", "secret"));
    EXPECT_TRUE(transfer.IsConnected());
    EXPECT_EQ(transfer.ErrorCode(), CFtpTransfer::kErrorNone);

    // A failed Connect drops the earlier session.
    EXPECT_FALSE(transfer.Connect("127.0.0.1", "bob", "wrong"));
    EXPECT_FALSE(transfer.IsConnected());
    EXPECT_FALSE(transfer.GetRemoteSize("anything"));

    int port = testing::FreePort();
    ASSERT_GT(port, 0);
    CFtpTransfer nobody(port);
    nobody.SetTimeoutSeconds(5);
    auto start = Clock::now();
    EXPECT_FALSE(nobody.Connect("127.0.0.1", "bob", "secret"));
    EXPECT_EQ(nobody.ErrorCode(), CFtpTransfer::kErrorUnreachable);
    EXPECT_FALSE(nobody.IsConnected());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(nobody.Connect("", "bob", "secret"));
    EXPECT_EQ(nobody.ErrorCode(), CFtpTransfer::kErrorUnreachable);
}

TEST_F(FtpTransferTest, CancelEndsTheTransferSoonAndKeepsTheOldFile) {
    // 8 MB at 2 MB/s: four seconds if nobody cancels.
    ASSERT_NO_FATAL_FAILURE(StartServer(0, 2 * 1024 * 1024));
    const std::string bytes = RandomBytes(8 * 1024 * 1024, 4);
    WriteFile(root_ + "/big.bin", bytes);
    const std::string local = local_ + "/big.bin";
    WriteFile(local, "old");

    CFtpTransfer transfer(server_.port());
    ASSERT_NO_FATAL_FAILURE(ConnectTransfer(transfer));
    Recorder recorder;
    std::atomic<bool> cancel{false};
    std::atomic<int> result{-1};
    std::thread worker([&] { result = transfer.Download("big.bin", local, &recorder, &cancel); });
    bool started = recorder.WaitFor(256 * 1024, std::chrono::seconds(10));
    auto cancelled_at = Clock::now();
    cancel = true;
    worker.join();
    auto took = Clock::now() - cancelled_at;
    ASSERT_TRUE(started) << "no progress from the transfer";
    EXPECT_EQ(result, 0);
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    EXPECT_LT(recorder.totals().back(), bytes.size());
    EXPECT_EQ(transfer.DownloadError(), "");
    ExpectUntouched(local, "old");

    // Set before the start: nothing is fetched.
    Recorder idle;
    EXPECT_FALSE(transfer.Download("big.bin", local, &idle, &cancel));
    EXPECT_TRUE(idle.totals().empty());
    ExpectUntouched(local, "old");
}

class FtpLyingSizeTest : public FtpTransferTest, public ::testing::WithParamInterface<long> {};

// The server announces more or fewer bytes than the file has: the download fails either way
// and never reports more than the announced size.
TEST_P(FtpLyingSizeTest, DownloadFailsAndKeepsTheOldFile) {
    const long delta = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartServer(delta));
    const std::string bytes = RandomBytes(200 * 1024, 5);
    WriteFile(root_ + "/db.bin", bytes);
    const std::string local = local_ + "/db.bin";
    WriteFile(local, "old");

    CFtpTransfer transfer(server_.port());
    ASSERT_NO_FATAL_FAILURE(ConnectTransfer(transfer));
    Recorder recorder;
    EXPECT_FALSE(transfer.Download("db.bin", local, &recorder));
    EXPECT_EQ(transfer.FileSize(), bytes.size() + delta);
    for (uintptr_t total : recorder.totals()) ASSERT_LE(total, transfer.FileSize());
    EXPECT_EQ(transfer.DownloadError(), "");
    ExpectUntouched(local, "old");

    // The session survives the failed transfer.
    EXPECT_TRUE(transfer.GetRemoteSize("db.bin"));
}

INSTANTIATE_TEST_SUITE_P(LargerAndSmaller, FtpLyingSizeTest, ::testing::Values(1000L, -1000L, -1L),
                         [](const auto& info) {
                             return info.param > 0 ? "AnnouncesMore" + std::to_string(info.param)
                                                   : "AnnouncesLess" + std::to_string(-info.param);
                         });

TEST_F(FtpTransferTest, LocalFileThatCannotBeWrittenIsAFailureWithItsReason) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    const std::string bytes = RandomBytes(10000, 6);
    WriteFile(root_ + "/db.bin", bytes);
    CFtpTransfer transfer(server_.port());
    ASSERT_NO_FATAL_FAILURE(ConnectTransfer(transfer));

    const std::string nowhere = local_ + "/missing/db.bin";
    EXPECT_FALSE(transfer.Download("db.bin", nowhere, nullptr));
    EXPECT_NE(transfer.DownloadError().find(nowhere + ".part"), std::string::npos)
        << transfer.DownloadError();
    EXPECT_FALSE(fs::exists(local_ + "/missing"));

    // A folder in the way whose "DEL_" place is taken by a folder with files: neither can go.
    const std::string blocked = local_ + "/blocked";
    fs::create_directories(blocked);
    WriteFile(blocked + "/keep", "kept");
    fs::create_directories(local_ + "/DEL_blocked");
    WriteFile(local_ + "/DEL_blocked/keep", "kept too");
    EXPECT_FALSE(transfer.Download("db.bin", blocked, nullptr));
    EXPECT_NE(transfer.DownloadError().find("cannot replace \"" + blocked + "\""),
              std::string::npos)
        << transfer.DownloadError();
    EXPECT_EQ(ReadFile(blocked + "/keep"), "kept");
    EXPECT_EQ(ReadFile(local_ + "/DEL_blocked/keep"), "kept too");
    EXPECT_FALSE(fs::exists(blocked + ".part"));

    // A later good download clears the reason.
    ASSERT_TRUE(transfer.Download("db.bin", local_ + "/db.bin", nullptr));
    EXPECT_EQ(transfer.DownloadError(), "");
}

TEST_F(FtpTransferTest, FolderInTheWayIsMovedAsideToDel) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    const std::string bytes = RandomBytes(10000, 7);
    WriteFile(root_ + "/db.bin", bytes);
    CFtpTransfer transfer(server_.port());
    ASSERT_NO_FATAL_FAILURE(ConnectTransfer(transfer));

    const std::string local = local_ + "/db.bin";
    fs::create_directories(local);
    WriteFile(local + "/inside", "inside");
    WriteFile(local_ + "/DEL_db.bin", "an earlier one");  // deleted to make room
    ASSERT_TRUE(transfer.Download("db.bin", local, nullptr)) << transfer.DownloadError();
    EXPECT_TRUE(ReadFile(local) == bytes);
    EXPECT_EQ(ReadFile(local_ + "/DEL_db.bin/inside"), "inside");
}

}  // namespace
}  // namespace devod
