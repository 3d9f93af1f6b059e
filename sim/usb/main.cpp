// z31usbsim: the simulated device's USB side as a program, for running the desktop program
// against it by hand.
#include <signal.h>

#include <cstdio>
#include <ctime>
#include <exception>

#include "sim/stop_signals.h"
#include "sim/usb/options.h"
#include "sim/usb/z31usb.h"

int main(int argc, char** argv) {
    using namespace z31sim;
    std::string error;
    const auto opts = usb::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!opts) {
        std::fprintf(stderr, "z31usbsim: %s\n%s", error.c_str(), usb::Usage().c_str());
        return 2;
    }
    if (opts->help) {
        std::fputs(usb::Usage().c_str(), stdout);
        return 0;
    }

    z31sim::StopSignals stop_signals;

    try {
        UsbDevice device(opts->socket_path);
        if (opts->settings) device.SetSettingsRecord(*opts->settings);
        if (opts->speeds) device.SetUserSpeeds(*opts->speeds);
        if (opts->demo_points > 0) device.SetUserPoints(usb::DemoUserPoints(opts->demo_points));
        std::printf("z31usbsim: listening on %s\n", device.SocketPath().c_str());
        std::fflush(stdout);
        stop_signals.Wait();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "z31usbsim: %s\n", e.what());
        return 1;
    }
    return 0;
}
