// The connection model alone: what its listeners are told, and when a device operation may run.
#include "orvixtool/devicelink/connection_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace devod {
namespace {

TEST(ConnectionModelTest, ListenersHearEveryChangeInTheOrderTheyWereAdded) {
    ConnectionModel model;
    std::vector<std::string> heard;
    model.AddListener([&](const ConnectionModel& m) {
        heard.push_back("first " + std::to_string(static_cast<int>(m.State())) +
                        (m.Busy() ? " busy" : ""));
    });
    model.AddListener([&](const ConnectionModel&) { heard.push_back("second"); });
    model.SetKind(kUsbConnection);  // the kind alone is no change to show
    EXPECT_TRUE(heard.empty());
    model.SetState(ConnectionState::Connected);
    model.SetBusy(true);
    model.SetBusy(false);
    EXPECT_EQ(heard, (std::vector<std::string>{"first 2", "second", "first 2 busy", "second",
                                               "first 2", "second"}));
}

TEST(ConnectionModelTest, ADeviceOperationMayRunOnlyWhenConnectedFreeAndOverItsLink) {
    ConnectionModel model;
    EXPECT_FALSE(model.Ready(kUsbConnection));  // before any connection
    model.SetKind(kUsbConnection);
    model.SetState(ConnectionState::Finding);
    EXPECT_FALSE(model.Ready(kUsbConnection));
    model.SetState(ConnectionState::Connected);
    EXPECT_TRUE(model.Ready(kUsbConnection));
    EXPECT_FALSE(model.Ready(kSerialConnection));
    model.SetBusy(true);
    EXPECT_FALSE(model.Ready(kUsbConnection));
    model.SetBusy(false);
    model.SetState(ConnectionState::Updating);
    EXPECT_FALSE(model.Ready(kUsbConnection));
}

TEST(ConnectionModelTest, DisconnectDropsTheKindThePortAndABusyExchange) {
    ConnectionModel model;
    model.SetKind(kSerialConnection, 7);
    EXPECT_EQ(model.Port(), 7);
    model.SetState(ConnectionState::Connected);
    model.SetBusy(true);
    int told = 0;
    model.AddListener([&](const ConnectionModel& m) {
        ++told;
        EXPECT_EQ(m.Kind(), kNoConnection);  // stored before anyone is told
        EXPECT_FALSE(m.Busy());
    });
    model.Disconnect();
    EXPECT_EQ(told, 1);
    EXPECT_EQ(model.State(), ConnectionState::Disconnected);
    EXPECT_EQ(model.Port(), 0);
    model.SetKind(kUsbConnection, 7);
    EXPECT_EQ(model.Port(), 0);  // a port belongs to a serial link only
}

TEST(ConnectionModelTest, ClearedListenersAreToldNothing) {
    ConnectionModel model;
    int told = 0;
    model.AddListener([&](const ConnectionModel&) { ++told; });
    model.SetConnectedHandler([&] { ++told; });
    model.ClearListeners();
    model.SetState(ConnectionState::Connected);
    model.AnnounceConnected();
    EXPECT_EQ(told, 0);
}

}  // namespace
}  // namespace devod
