// The device connection as both pages see it: the state (Finding, Connected, Disconnected,
// Updating), the kind of link (0 none, 1 a serial port through QVLib, 2 USB), the port of a serial
// link, and whether a settings exchange holds the device for a moment. The pages observe it
// through listeners and never call into each other: each shows a change on its own controls.
//
// Used from the user-interface thread only. Listeners run in the order they were added, on every
// change, after the change has been stored.
#pragma once

#include <functional>
#include <vector>

namespace devod {

enum ConnectionKind : int { kNoConnection = 0, kSerialConnection = 1, kUsbConnection = 2 };

enum class ConnectionState {
    NotConnected,  // from start-up until the first connect
    Finding,
    Connected,
    Disconnected,
    Updating,
};

class ConnectionModel {
public:
    using Listener = std::function<void(const ConnectionModel&)>;
    // Runs once the connection has been made and shown, before the owner is told: the settings
    // page reads the device's settings here.
    using ConnectedHandler = std::function<void()>;

    ConnectionState State() const { return state_; }
    int Kind() const { return kind_; }
    // The serial port of kind 1 (0 for the other kinds).
    int Port() const { return port_; }
    // A settings exchange runs: the device is in use, so nothing else may start.
    bool Busy() const { return busy_; }
    // Connected and free for a device operation over this kind of link.
    bool Ready(int kind) const {
        return state_ == ConnectionState::Connected && !busy_ && kind_ == kind;
    }

    // The link chosen when a device was found; changes no state and tells no listener.
    void SetKind(int kind, int port = 0);
    // Shows a state on both pages (tells every listener, also when the state is unchanged: the
    // pages then show it again, as after a settings exchange).
    void SetState(ConnectionState state);
    // Kind 0 and the Disconnected state.
    void Disconnect();
    // A settings exchange begins or ends; the pages show the device as busy meanwhile.
    void SetBusy(bool busy);

    void AddListener(Listener listener) { listeners_.push_back(std::move(listener)); }
    // For an owner whose observers are about to go: nothing is told any more.
    void ClearListeners() {
        listeners_.clear();
        on_connected_ = nullptr;
    }
    void SetConnectedHandler(ConnectedHandler handler) { on_connected_ = std::move(handler); }
    void AnnounceConnected();

private:
    void Notify();

    ConnectionState state_ = ConnectionState::NotConnected;
    int kind_ = kNoConnection;
    int port_ = 0;
    bool busy_ = false;
    std::vector<Listener> listeners_;
    ConnectedHandler on_connected_;
};

}  // namespace devod
