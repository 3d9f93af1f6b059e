// Image and bootloader writes on a scripted device in virtual time: what goes out in which blocks
// and at which rates, the progress, and how the verdict is found.
#include "qvlib/commands/write_file.h"

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <vector>

#include "qvlib/commands/tests/scripted_session.h"

namespace {

using Writes = std::vector<std::string>;
using Opens = std::vector<int>;

// A file of `size` bytes whose blocks differ, so that each block is its own host write.
std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 4096) & 0xFF);
    return bytes;
}

class WriteFileTest : public ScriptedSessionTest {
protected:
    WriteFileTest() {
        char pattern[] = "/tmp/qvwrite.XXXXXX";
        folder = mkdtemp(pattern);
    }
    ~WriteFileTest() override {
        for (const std::string& path : files) unlink(path.c_str());
        rmdir(folder.c_str());
    }
    std::string File(const std::string& bytes) {
        std::string path = folder + "/image" + std::to_string(files.size());
        std::ofstream(path, std::ios::binary) << bytes;
        files.push_back(path);
        return path;
    }
    int Write(int (*request)(int, const char*), const std::string& path) {
        if (request(device.port(), path.c_str()) != 1) return -1;
        return Await();
    }
    std::vector<uint32_t> Progress() {
        int port = device.port();
        return {static_cast<uint32_t>(GetQueryProgressMin(port)),
                static_cast<uint32_t>(GetQueryProgressMax(port)),
                static_cast<uint32_t>(GetQueryProgressPos(port))};
    }

    std::string folder;
    std::vector<std::string> files;
};

}  // namespace

TEST_F(WriteFileTest, TenThousandBytesGoOutInThreeBlocksAfterTheCommandAndItsConfirmation) {
    Open("Z40PRO");
    std::string image = Pattern(10000);
    device.Answer(image.substr(8192), "\r\nWriteSucceed!\r\nQV>>", 1200);
    EXPECT_EQ(Write(ReqWriteDB, File(image)), 1);
    EXPECT_EQ(device.Writes(), (Writes{"wd\r", "y", image.substr(0, 4096), image.substr(4096, 4096),
                                       image.substr(8192)}));
    EXPECT_EQ(Progress(), (std::vector<uint32_t>{0, 10000, 10000}));
    // Two 100 ms pauses with their silent 100 ms reads, three silent 100 ms reads after the
    // blocks, then the 1500 ms pause; the verdict waits in the buffer for the last read.
    EXPECT_EQ(Now(), 400u + 300u + 1500u);
}

TEST_F(WriteFileTest, EveryOtherVerdictAndNoneFail) {
    Open("Z40PRO");
    std::string image = Pattern(5000);
    std::string path = File(image);
    for (const char* verdict :
         {"WriteFail*", "CheckSumErr*", "ErrorInFormat*", "ID Mismatch*", "", "writesucceed!"}) {
        device.Answer(image.substr(4096), std::string("\r\n") + verdict + "\r\nQV>>", 500);
        EXPECT_EQ(Write(ReqWriteFW, path), 2) << verdict;
    }
}

TEST_F(WriteFileTest, AVerdictDuringTheStreamCountsAndTheFullBufferStartsOver) {
    Open("Z40PRO");
    std::string image = Pattern(3 * 4096);
    device.Answer(image.substr(0, 4096), "WriteSucceed!", 10);
    EXPECT_EQ(Write(ReqWriteVOC, File(image)), 1);

    // A device that fills the whole reply buffer during the stream: the buffer starts over, so a
    // verdict at the end still finds room.
    device.Answer(image.substr(0, 4096), std::string(4096, '.'), 10);
    device.Answer(image.substr(8192), "WriteSucceed!", 1000);
    EXPECT_EQ(Write(ReqWriteVOC, File(image)), 1);
}

TEST_F(WriteFileTest, AMissingFileSendsNothingAndLeavesTheProgress) {
    Open("Z40PRO");
    std::string image = Pattern(4096);
    device.Answer(image, "WriteSucceed!", 50);
    ASSERT_EQ(Write(ReqWriteFW, File(image)), 1);
    size_t writes = device.Writes().size();

    EXPECT_EQ(Write(ReqWriteFW, folder + "/missing"), 2);
    EXPECT_EQ(Write(ReqWriteDB, folder), 2);  // a folder is no image either
    EXPECT_EQ(Write(ReqWriteDB, ""), 2);
    EXPECT_EQ(ReqWriteDB(device.port(), nullptr), 1);
    EXPECT_EQ(Await(), 2);
    EXPECT_EQ(device.Writes().size(), writes);
    EXPECT_EQ(Progress(), (std::vector<uint32_t>{0, 4096, 4096}));
    EXPECT_EQ(ReqWriteFW(99, "x"), 0);  // no session
}

TEST_F(WriteFileTest, AnEmptyFileSendsOnlyTheCommandAndIsJudgedByTheReply) {
    Open("Z40PRO");
    device.Answer("y", "ErrorInFormat*", 1400);
    EXPECT_EQ(Write(ReqWriteVOC, File("")), 2);
    EXPECT_EQ(device.Writes(), (Writes{"wv\r", "y"}));
    EXPECT_EQ(Progress(), (std::vector<uint32_t>{0, 0, 0}));
    device.Answer("y", "WriteSucceed!", 1400);
    EXPECT_EQ(Write(ReqWriteVOC, File("")), 1);
}

TEST_F(WriteFileTest, AClosedPortEndsTheWriteAtItsNextStep) {
    Open("Z40PRO");
    std::string image = Pattern(50 * 4096);
    std::atomic<bool> second_block_sent{false};
    // The device holds the host's write until the port is closed under it.
    device.When(image.substr(4096, 4096), [&] {
        second_block_sent = true;
        for (int i = 0; i < 5000 && device.IsOpen(); ++i) usleep(1000);
    });
    ASSERT_EQ(ReqWriteDB(device.port(), File(image).c_str()), 1);
    for (int i = 0; i < 5000 && !second_block_sent; ++i) usleep(1000);
    ASSERT_TRUE(second_block_sent);
    EXPECT_EQ(CloseDevice(device.port()), 1);
    EXPECT_EQ(device.Writes().size(), 4u);  // command, confirmation, two blocks: nothing after
}

TEST_F(WriteFileTest, BootloaderStartsAt9600AndStreamsAt115200WhateverTheModel) {
    Open("Z31STD");  // NMEA at 4800, commands at 115200
    std::string image = Pattern(4096);
    std::vector<int> rates;
    device.When(qv::CWriteBootloader::kStartCommand, [&] { rates.push_back(device.Baud()); });
    device.When(image, [&] { rates.push_back(device.Baud()); });
    device.Answer(image, "\r\nQV>>", 900, 115200);
    EXPECT_EQ(Write(ReqWriteBootloader, File(image)), 1);
    EXPECT_EQ(device.Writes(), (Writes{qv::CWriteBootloader::kStartCommand, image}));
    EXPECT_EQ(rates, (std::vector<int>{9600, 115200}));
    EXPECT_EQ(device.Opens(), (Opens{4800, 9600, 115200}));
    EXPECT_EQ(device.Baud(), 115200);
    EXPECT_EQ(Progress(), (std::vector<uint32_t>{0, 4096, 4096}));

    device.Answer(image, "\r\nnothing\r\n", 900, 115200);
    EXPECT_EQ(Write(ReqWriteBootloader, File(image)), 2);
}

TEST_F(WriteFileTest, BootloaderWithAMissingFileLeavesThePortAlone) {
    Open("Z31STD");
    EXPECT_EQ(Write(ReqWriteBootloader, folder + "/missing"), 2);
    EXPECT_EQ(device.Opens(), (Opens{4800}));
    EXPECT_TRUE(device.Writes().empty());
    EXPECT_EQ(ReqWriteBootloader(99, "x"), 0);
}
