// UsbDevice: the data, the records and the knobs under the shared lock; the Server does the I/O.
#include <mutex>
#include <stdexcept>

#include "sim/pipebridge/bridge_protocol.h"
#include "sim/usb/server.h"
#include "sim/usb/shared_state.h"
#include "sim/usb/z31usb.h"

namespace z31sim {

using usb::Clock;

std::string DefaultUsbSocketPath() { return z31pipe::SocketPath(); }

struct UsbDevice::Impl {
    explicit Impl(std::string socket_path) : path(std::move(socket_path)), server(path, shared) {}

    // Changes a knob and returns once the thread has acted on it.
    template <typename F>
    void SetKnob(F&& change) {
        std::unique_lock lock(shared.mu);
        change(shared.knobs);
        if (!server.Sync(lock)) throw std::runtime_error("the USB device thread does not respond");
    }

    const std::string path;
    usb::SharedState shared;
    usb::Server server;  // last: its thread stops before the state it uses goes away
};

UsbDevice::UsbDevice(std::string socket_path)
    : impl_(std::make_unique<Impl>(std::move(socket_path))) {}

UsbDevice::~UsbDevice() = default;

const std::string& UsbDevice::SocketPath() const { return impl_->path; }

void UsbDevice::SetSettingsRecord(const SettingsRecordBytes& record) {
    std::lock_guard lock(impl_->shared.mu);
    impl_->shared.data.settings = record;
}

SettingsRecordBytes UsbDevice::SettingsRecord() const {
    std::lock_guard lock(impl_->shared.mu);
    return impl_->shared.data.settings;
}

void UsbDevice::SetUserSpeeds(const UserSpeedBytes& speeds) {
    std::lock_guard lock(impl_->shared.mu);
    impl_->shared.data.speeds = speeds;
}

UserSpeedBytes UsbDevice::UserSpeeds() const {
    std::lock_guard lock(impl_->shared.mu);
    return impl_->shared.data.speeds;
}

void UsbDevice::SetUserPoints(const std::vector<UserPoint>& points) {
    if (points.size() > kMaxUserPoints) {
        throw std::invalid_argument("the device holds at most 100 user points, not " +
                                    std::to_string(points.size()));
    }
    std::lock_guard lock(impl_->shared.mu);
    impl_->shared.data.points = points;
    impl_->shared.data.point_count = static_cast<std::uint8_t>(points.size());
}

std::vector<UserPoint> UsbDevice::UserPoints() const {
    std::lock_guard lock(impl_->shared.mu);
    return impl_->shared.data.points;
}

void UsbDevice::SetUserPointCount(std::uint8_t count) {
    std::lock_guard lock(impl_->shared.mu);
    impl_->shared.data.point_count = count;
}

std::uint8_t UsbDevice::UserPointCount() const {
    std::lock_guard lock(impl_->shared.mu);
    return impl_->shared.data.point_count;
}

Bytes UsbDevice::ReceivedStream() const {
    std::lock_guard lock(impl_->shared.mu);
    return impl_->shared.data.stream;
}

std::vector<std::size_t> UsbDevice::ReceivedTransferSizes() const {
    std::lock_guard lock(impl_->shared.mu);
    return impl_->shared.data.transfer_sizes;
}

std::vector<Bytes> UsbDevice::ReceivedFrames() const {
    std::lock_guard lock(impl_->shared.mu);
    return impl_->shared.data.frames;
}

std::vector<Bytes> UsbDevice::ReceivedUnframed() const {
    std::lock_guard lock(impl_->shared.mu);
    return impl_->shared.data.unframed;
}

void UsbDevice::ClearReceived() {
    std::lock_guard lock(impl_->shared.mu);
    impl_->shared.data.stream.clear();
    impl_->shared.data.transfer_sizes.clear();
    impl_->shared.data.frames.clear();
    impl_->shared.data.unframed.clear();
}

bool UsbDevice::WaitForStreamBytes(std::size_t bytes, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->shared.mu);
    return impl_->shared.changed.wait_for(
        lock, timeout, [&] { return impl_->shared.data.stream.size() >= bytes; });
}

bool UsbDevice::WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->shared.mu);
    return impl_->shared.changed.wait_for(
        lock, timeout, [&] { return impl_->shared.data.frames.size() >= count; });
}

OpenCounts UsbDevice::Opens() const {
    std::lock_guard lock(impl_->shared.mu);
    return impl_->shared.opens;
}

void UsbDevice::SetAttached(bool attached) {
    impl_->SetKnob([&](usb::Knobs& k) { k.attached = attached; });
}

void UsbDevice::SetSocketVisible(bool visible) {
    std::unique_lock lock(impl_->shared.mu);
    impl_->shared.knobs.socket_visible = visible;
    if (!impl_->server.Sync(lock))
        throw std::runtime_error("the USB device thread does not respond");
    if (visible && !impl_->shared.knobs.socket_visible) {
        throw std::runtime_error("cannot show the socket again: " + impl_->shared.listen_error);
    }
}

void UsbDevice::SetPipeRefused(Pipe pipe, bool refused) {
    impl_->SetKnob(
        [&](usb::Knobs& k) { (pipe == Pipe::kOut ? k.refuse_out : k.refuse_in) = refused; });
}

void UsbDevice::SetReadFault(ReadFault fault) {
    impl_->SetKnob([&](usb::Knobs& k) { k.read_fault = fault; });
}

void UsbDevice::SetShortReplies(std::optional<std::size_t> max_bytes) {
    impl_->SetKnob([&](usb::Knobs& k) { k.short_replies = max_bytes; });
}

void UsbDevice::StallWrites(std::chrono::milliseconds duration) {
    impl_->SetKnob([&](usb::Knobs& k) {
        k.stall_until = duration.count() > 0 ? Clock::now() + duration : Clock::time_point{};
    });
}

void UsbDevice::SetWritesUnplugged(bool unplugged) {
    impl_->SetKnob([&](usb::Knobs& k) { k.writes_unplugged = unplugged; });
}

}  // namespace z31sim
