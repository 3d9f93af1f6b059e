// Unloading the library while a search runs ends the search: no thread of the library stays.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "qvlib/session/qvlib.h"
#include "sim/z31sim.h"

namespace {

int ThreadCount() {
    int count = 0;
    DIR* tasks = opendir("/proc/self/task");
    while (dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
    closedir(tasks);
    return count;
}

}  // namespace

TEST(FinderUnload, UnloadDuringASearchLeavesNoThreadAndFreesThePorts) {
    z31sim::PortDir dir;
    setenv("QVLIB_PORT_DIR", dir.path().c_str(), 1);
    std::vector<std::unique_ptr<z31sim::Device>> devices;
    for (int port = 1; port <= 3; ++port) {
        z31sim::DeviceConfig config;
        config.port_number = port;
        config.nmea_baud = 115200;
        config.command_baud = 115200;
        config.start_mode = z31sim::Mode::Download;
        devices.push_back(std::make_unique<z31sim::Device>(dir.path(), config));
    }
    int before = ThreadCount();

    void* lib = dlopen(QVLIB_SO_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto find = reinterpret_cast<decltype(&ReqFindDevice)>(dlsym(lib, "ReqFindDevice"));
    auto state = reinterpret_cast<decltype(&FindDeviceState)>(dlsym(lib, "FindDeviceState"));
    ASSERT_NE(find, nullptr);
    ASSERT_EQ(find("Z40PRO"), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(state(), 1);
    EXPECT_GT(ThreadCount(), before);  // the finder and its probes run

    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(dlclose(lib), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(ThreadCount(), before);

    // Loaded again, the library starts idle and the ports open.
    lib = dlopen(QVLIB_SO_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    state = reinterpret_cast<decltype(&FindDeviceState)>(dlsym(lib, "FindDeviceState"));
    auto open = reinterpret_cast<decltype(&OpenDevice)>(dlsym(lib, "OpenDevice"));
    EXPECT_EQ(state(), 0);
    EXPECT_EQ(open("Z40PRO", 2), 1);
    ASSERT_EQ(dlclose(lib), 0);
}
