// The simulated device's USB side on a socket of the test's own, with PipeBridge pointed at the
// simulator's library (PIPEBRIDGE_LIBRARY, defined by the test target), for one test.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "orvixtool/devicelink/pipe_bridge.h"
#include "sim/usb/z31usb.h"

namespace devod::testing {

class SimulatedUsbDevice {
public:
    explicit SimulatedUsbDevice(const std::string& name)
        : socket_("/tmp/devod-" + name + "-" + std::to_string(getpid()) + ".sock") {
        setenv("Z31_USB_SOCKET", socket_.c_str(), 1);
        PipeBridge::SetLibraryPath(PIPEBRIDGE_LIBRARY);
        device_ = std::make_unique<z31sim::UsbDevice>(socket_);
    }
    ~SimulatedUsbDevice() {
        device_.reset();
        PipeBridge::SetLibraryPath("");
        unsetenv("Z31_USB_SOCKET");
    }
    SimulatedUsbDevice(const SimulatedUsbDevice&) = delete;
    SimulatedUsbDevice& operator=(const SimulatedUsbDevice&) = delete;

    z31sim::UsbDevice* operator->() const { return device_.get(); }

private:
    std::string socket_;
    std::unique_ptr<z31sim::UsbDevice> device_;
};

}  // namespace devod::testing
