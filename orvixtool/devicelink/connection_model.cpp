#include "orvixtool/devicelink/connection_model.h"

namespace devod {

void ConnectionModel::SetKind(int kind, int port) {
    kind_ = kind;
    port_ = kind == kSerialConnection ? port : 0;
}

void ConnectionModel::SetState(ConnectionState state) {
    state_ = state;
    Notify();
}

void ConnectionModel::Disconnect() {
    SetKind(kNoConnection);
    busy_ = false;
    SetState(ConnectionState::Disconnected);
}

void ConnectionModel::SetBusy(bool busy) {
    busy_ = busy;
    Notify();
}

void ConnectionModel::AnnounceConnected() {
    if (on_connected_) on_connected_();
}

void ConnectionModel::Notify() {
    // A listener may add none; copying keeps the walk safe if one ever does.
    const std::vector<Listener> listeners = listeners_;
    for (const Listener& listener : listeners) listener(*this);
}

}  // namespace devod
