// The settings and user point exports and transfers on a scripted device in virtual time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "qvlib/commands/tests/scripted_session.h"
#include "qvlib/settings/records.h"

namespace {

using Writes = std::vector<std::string>;

constexpr const char* kNone16 =
    "FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF ";

std::string SettingsReply(const std::string& words, bool completed = true) {
    return "\r\n$0000*" + words + "\r\n$9999*\r\n" + (completed ? "Completed!\r\n" : "") + "QV>>";
}

UserPointEntry Point(uint16_t month, int32_t latitude) {
    UserPointEntry e{};
    e.w0Bits0to3 = month;
    e.latitude = latitude;
    e.longitude = -latitude;
    e.word2 = 0x1111;  // never written
    e.word5 = 0x5555;
    e.direction = 270;
    return e;
}

class TransferTest : public ScriptedSessionTest {
protected:
    void SetUp() override { Open("Z40PRO"); }
    int port() const { return device.port(); }
};

}  // namespace

TEST_F(TransferTest, SettingsListFamilies) {
    AddGMT(port(), 60);
    AddGMT(port(), -300);  // replaces
    EXPECT_EQ(GetGMTCount(port()), 1u);
    EXPECT_EQ(GetGMT(port(), 0), -300);
    AddSpeedUnit(port(), 1);
    AddSpeedUnit(port(), 0);  // appends
    EXPECT_EQ(GetSpeedUnitCount(port()), 2u);
    EXPECT_EQ(GetSpeedUnit(port(), 0), 1);
    EXPECT_EQ(GetSpeedUnit(port(), 2), -1);  // beyond the count
    EXPECT_EQ(GetSpeedUnit(port(), -1), -1);

    AddTimeSet(port(), 1);
    EXPECT_EQ(DeleteTimeSet(port(), -1), 0);  // unsigned: too large
    EXPECT_EQ(GetTimeSetCount(port()), 1u);
    AddWarningBySecond(port(), 20);
    EXPECT_EQ(DeleteWarningBySecond(port(), 0), 1);
    EXPECT_EQ(DeleteWarningBySecond(port(), 0), 0);
    EXPECT_EQ(DeleteAllSummerTime(port()), 1);  // already empty
    for (int v : {1, 2, 3}) AddUserSpeed(port(), v);
    EXPECT_EQ(DeleteUserSpeed(port(), 1), 1);  // later entries move down
    EXPECT_EQ(GetUserSpeed(port(), 1), 3);
    EXPECT_EQ(DeleteAllUserSpeeds(port()), 1);
    EXPECT_EQ(GetUserSpeedCount(port()), 0u);
}

TEST_F(TransferTest, EveryFunctionFailsWithoutASession) {
    UserPointEntry e = Point(1, 1);
    for (int p : {0, 257, 5, -1}) {
        EXPECT_EQ(AddUserSpeed(p, 1) + AddWarningBySecond(p, 1) + AddSpeedUnit(p, 1) +
                      AddGMT(p, 1) + AddSummerTime(p, 1) + AddTimeSet(p, 1),
                  0);
        EXPECT_EQ(GetUserSpeed(p, 0) | GetWarningBySecond(p, 0) | GetSpeedUnit(p, 0) |
                      GetGMT(p, 0) | GetSummerTime(p, 0) | GetTimeSet(p, 0),
                  0);
        EXPECT_EQ(GetUserSpeedCount(p) + GetWarningBySecondCount(p) + GetSpeedUnitCount(p) +
                      GetGMTCount(p) + GetSummerTimeCount(p) + GetTimeSetCount(p) +
                      GetUserDBCount(p),
                  0u);
        EXPECT_EQ(DeleteUserSpeed(p, 0) + DeleteWarningBySecond(p, 0) + DeleteSpeedUnit(p, 0) +
                      DeleteGMT(p, 0) + DeleteSummerTime(p, 0) + DeleteTimeSet(p, 0) +
                      DeleteUserDB(p, 0),
                  0);
        EXPECT_EQ(DeleteAllUserSpeeds(p) + DeleteAllWarningBySeconds(p) + DeleteAllSpeedUnit(p) +
                      DeleteAllGMT(p) + DeleteAllSummerTime(p) + DeleteAllTimeSet(p) +
                      DeleteAllUserDBs(p),
                  0);
        EXPECT_EQ(AddUserDB(p, &e) + GetUserDB(p, 0, &e), 0);
        EXPECT_EQ(ReqGetUserSetting(p) + ReqSetUserSetting(p) + ReqGetUserDB(p) + ReqSetUserDB(p),
                  0);
    }
}

TEST_F(TransferTest, SettingsReadFillsTheListsOnlyFromAWellFormedReply) {
    AddTimeSet(port(), 0);
    AddGMT(port(), 60);
    device.Answer("y", SettingsReply("0078 FFFF FFFF FFFF FFFF 0000 0000 0000 0014 FFC4 0000 "
                                     "0000 0000 0000 FFFF 0001 "));
    EXPECT_EQ(Run(ReqGetUserSetting), 1);
    EXPECT_EQ(device.Writes(), (Writes{"ra\r", "y"}));
    EXPECT_EQ(GetUserSpeedCount(port()), 1u);
    EXPECT_EQ(GetUserSpeed(port(), 0), 120);
    EXPECT_EQ(GetGMT(port(), 0), -60);
    EXPECT_EQ(GetTimeSetCount(port()), 0u);  // FFFF empties what was there
    EXPECT_EQ(GetSpeedUnit(port(), 0), 1);

    // 79 and 81 characters, and a good line without "Completed!": nothing changes.
    const std::string good(kNone16);
    for (const std::string& reply :
         {SettingsReply(good.substr(1)), SettingsReply(good + " "), SettingsReply(good, false)}) {
        device.Answer("y", reply);
        EXPECT_EQ(Run(ReqGetUserSetting), 2);
        EXPECT_EQ(GetGMT(port(), 0), -60);
        EXPECT_EQ(GetUserSpeedCount(port()), 1u);
    }
    device.Answer("y", SettingsReply(good));
    EXPECT_EQ(Run(ReqGetUserSetting), 1);
    EXPECT_EQ(GetGMTCount(port()) + GetUserSpeedCount(port()) + GetSpeedUnitCount(port()), 0u);
}

TEST_F(TransferTest, SettingsWriteSendsCopiesTakenAtTheRequest) {
    for (int v = 1; v <= 7; ++v) AddUserSpeed(port(), v * 10);
    AddGMT(port(), -300);
    device.Answer(
        "$0000*000A 0014 001E 0028 0032 FFFF FFFF FFFF FFFF FED4 FFFF FFFF FFFF FFFF "
        "FFFF FFFF \r\n$9999*\r\n",
        "\r\nWriteSucceed!\r\nQV>>", 50);
    ASSERT_EQ(ReqSetUserSetting(port()), 1);
    DeleteAllUserSpeeds(port());  // too late to change the write
    AddGMT(port(), 0);
    EXPECT_EQ(Await(), 1);
    EXPECT_EQ(device.Writes().size(), 3u);
    EXPECT_EQ(device.Writes()[2].size(), 96u);
    EXPECT_EQ(Now(), 300u);  // three 100 ms pauses, the answer inside the 100 ms read

    DeleteAllGMT(port());
    device.Answer(qv::FormatSettingsWrite({}), "\r\nWriteFail*\r\nQV>>");
    EXPECT_EQ(Run(ReqSetUserSetting), 2);
    // The confirmation must come within the one 100 ms read after the 100 ms pause.
    device.Answer(qv::FormatSettingsWrite({}), "\r\nWriteSucceed!\r\nQV>>", 250);
    EXPECT_EQ(Run(ReqSetUserSetting), 2);
}

TEST_F(TransferTest, UserPointsAddGetAndDelete) {
    UserPointEntry e = Point(17, 3513820);
    EXPECT_EQ(AddUserDB(port(), &e), 1);
    EXPECT_EQ(AddUserDB(port(), nullptr), 0);
    UserPointEntry out{};
    out.word9 = 42;
    EXPECT_EQ(GetUserDB(port(), 1, &out), 0);  // index equal to the count
    EXPECT_EQ(out.word9, 42);
    EXPECT_EQ(GetUserDB(port(), 0, nullptr), 0);
    ASSERT_EQ(GetUserDB(port(), 0, &out), 1);
    EXPECT_EQ(out.w0Bits0to3, 1);
    EXPECT_EQ(out.latitude, 3513820);
    EXPECT_EQ(DeleteUserDB(port(), -1), 0);
    EXPECT_EQ(DeleteUserDB(port(), 0), 1);
    EXPECT_EQ(GetUserDBCount(port()), 0u);
}

TEST_F(TransferTest, UserPointReadCollectsForASecondAndKeepsTheValidLines) {
    UserPointEntry stale = Point(1, 1);
    AddUserDB(port(), &stale);
    const std::string lines = qv::FormatUserPointLine(0, qv::PackUserPoint(Point(3, 100))) +
                              qv::FormatUserPointLine(1, qv::PackUserPoint(Point(0, 200))) +
                              qv::FormatUserPointLine(2, qv::PackUserPoint(Point(12, 300)));
    // The reply comes in two parts; the collection goes on after the last byte.
    device.Answer("y", "\r\n" + lines.substr(0, 70), 150);
    device.When("y", [&] { device.Send(lines.substr(70) + "$9999*\r\nCompleted!\r\nQV>>", 400); });
    EXPECT_EQ(Run(ReqGetUserDB), 1);
    EXPECT_EQ(device.Writes(), (Writes{"ru\r", "y"}));
    EXPECT_GE(Now(), 1200u);  // two pauses and the whole collection
    EXPECT_LE(Now(), 1300u);
    ASSERT_EQ(GetUserDBCount(port()), 2u);
    UserPointEntry out{};
    GetUserDB(port(), 1, &out);
    EXPECT_EQ(out.latitude, 300);
    EXPECT_EQ(out.longitude, -300);
    EXPECT_EQ(out.direction, 270);

    // Without "Completed!" or the end line the read fails with an empty list.
    device.Answer("y", lines + "$9999*\r\nQV>>");
    device.When("y", nullptr);
    EXPECT_EQ(Run(ReqGetUserDB), 2);
    EXPECT_EQ(GetUserDBCount(port()), 0u);
    device.Answer("y", lines + "Completed!\r\n");
    EXPECT_EQ(Run(ReqGetUserDB), 2);
    // A device without points answers the end line alone: an empty database, read well.
    device.Answer("y", "\r\n$9999*\r\nCompleted!\r\nQV>>");
    EXPECT_EQ(Run(ReqGetUserDB), 1);
    EXPECT_EQ(GetUserDBCount(port()), 0u);
    // Neither the first line nor the end line: still a failure.
    device.Answer("y", "\r\nCompleted!\r\nQV>>");
    EXPECT_EQ(Run(ReqGetUserDB), 2);
}

TEST_F(TransferTest, UserPointWriteSendsNumberedLinesThenTheEndLineWithCrAlone) {
    UserPointEntry a = Point(1, 3513820);
    UserPointEntry b = Point(2, -3513820);
    AddUserDB(port(), &a);
    AddUserDB(port(), &b);
    device.Answer("$9999*\r", "\r\nWriteSucceed!\r\nQV>>", 600);
    ASSERT_EQ(ReqSetUserDB(port()), 1);
    DeleteAllUserDBs(port());  // the write has its copy
    EXPECT_EQ(Await(), 1);
    EXPECT_EQ(
        device.Writes(),
        (Writes{"wu\r", "y", "$0000*0001 0000 0000 9DDC 0035 0000 6224 FFCA 010E 0000 0000 \r\n",
                "$0001*0002 0000 0000 6224 FFCA 0000 9DDC 0035 010E 0000 0000 \r\n", "$9999*\r"}));

    // An empty list sends the commands and the end line only; a missing verdict fails.
    device.Answer("$9999*\r", "\r\nQV>>");
    EXPECT_EQ(Run(ReqSetUserDB), 2);
    EXPECT_EQ(device.Writes().size(), 8u);
}

TEST_F(TransferTest, AUserPointWriteThatCannotHoldEveryRecordSendsNothing) {
    UserPointEntry e = Point(1, 1);
    for (int i = 0; i < 10000; ++i) AddUserDB(port(), &e);
    EXPECT_EQ(Run(ReqSetUserDB), 2);
    EXPECT_TRUE(device.Writes().empty());
    DeleteUserDB(port(), 0);  // 9999 fit
    device.Answer("$9999*\r", "WriteSucceed!");
    EXPECT_EQ(Run(ReqSetUserDB), 1);
    EXPECT_EQ(device.Writes().size(), 2u + 9999u + 1u);
    EXPECT_EQ(device.Writes()[2 + 9998].substr(0, 6), "$9998*");
}

TEST_F(TransferTest, AUserPointReadRefusedWhileACommandRunsKeepsTheList) {
    UserPointEntry e = Point(1, 1);
    AddUserDB(port(), &e);
    // The write is held inside its confirmation until the test lets it go on.
    std::atomic<bool> go{false};
    device.When("y", [&] {
        while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    ASSERT_EQ(ReqSetUserDB(port()), 1);
    while (device.Writes().size() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(ReqGetUserDB(port()), 0);
    EXPECT_EQ(GetUserDBCount(port()), 1u);
    go = true;
    EXPECT_EQ(Await(), 2);
}

TEST_F(TransferTest, AUserPointReadGoesOnWhileALargeDatabaseIsStillArriving) {
    std::string reply = "\r\n";
    for (uint32_t i = 0; i < 300; ++i) {
        reply += qv::FormatUserPointLine(i, qv::PackUserPoint(Point(1 + i % 12, int32_t(i))));
    }
    reply += "$9999*\r\nCompleted!\r\nQV>>";
    ASSERT_LT(reply.size(), 20480u);
    // As a 115200-baud line carries it: 1152 bytes every 100 ms, some 1.7 s in all.
    device.When("y", [&] {
        for (size_t at = 0, piece = 0; at < reply.size(); at += 1152, ++piece) {
            device.Send(reply.substr(at, 1152), static_cast<uint32_t>(100 * piece));
        }
    });
    EXPECT_EQ(Run(ReqGetUserDB), 1);
    EXPECT_EQ(GetUserDBCount(port()), 300u);
    EXPECT_LT(Now(), 200u + 1800u + 200u);

    // A device that never stops talking is not listened to for ever.
    device.When("y", nullptr);
    device.Stream("$", 50);
    EXPECT_EQ(Run(ReqGetUserDB), 2);
    EXPECT_LT(Now(), 2200u + 200u + 1000u + 20480u * 10 * 1000 / 115200 + 1000u + 200u);
    device.StopStream();
}
