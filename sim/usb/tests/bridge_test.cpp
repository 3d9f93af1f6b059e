// libPipeBridge's side of the contract: finding the device, names, time bounds, loading.
#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>

#include "sim/usb/tests/test_support.h"

namespace z31sim::testing {
namespace {

using BridgeTest = UsbTest;

int TimeoutMs(const Fd& fd, int option) {
    timeval tv{};
    socklen_t len = sizeof tv;
    if (getsockopt(fd.get(), SOL_SOCKET, option, &tv, &len) != 0) return -1;
    return static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
}

TEST_F(BridgeTest, ProbeSeesAttachedDetachedAndMissingDevice) {
    Fd probe(lib_.OpenDev());
    ASSERT_TRUE(probe.valid()) << std::strerror(errno);
    EXPECT_TRUE(fcntl(probe.get(), F_GETFD) & FD_CLOEXEC);
    device_->SetAttached(false);
    EXPECT_EQ(lib_.OpenDev(), -1);
    EXPECT_EQ(errno, ENODEV);
    device_->SetAttached(true);
    device_->SetSocketVisible(false);
    EXPECT_EQ(lib_.OpenDev(), -1);
    EXPECT_EQ(errno, ENOENT);
    device_->SetSocketVisible(true);
    EXPECT_TRUE(Fd(lib_.OpenDev()).valid());
    EXPECT_EQ(device_->Opens().probes, 2u);
    EXPECT_EQ(device_->Opens().refused, 1u);
}

TEST_F(BridgeTest, DefaultSocketIsInXdgRuntimeDir) {
    unsetenv("Z31_USB_SOCKET");
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    const std::optional<std::string> saved = xdg ? std::optional<std::string>(xdg) : std::nullopt;
    SetEnv("XDG_RUNTIME_DIR", dir_.path());
    {
        UsbDevice xdg_device(dir_.path() + "/z31sim-usb.sock");
        EXPECT_TRUE(Fd(lib_.OpenDev()).valid());
    }
    if (saved) {
        SetEnv("XDG_RUNTIME_DIR", *saved);
    } else {
        unsetenv("XDG_RUNTIME_DIR");
    }
}

TEST_F(BridgeTest, OnlyTheTwoPipeNamesOpen) {
    for (const char* bad : {"", "PIPE02", "pipe00", "PIPE0", "PIPE000", "PROBE", " PIPE01"}) {
        EXPECT_EQ(lib_.OpenFile(bad), -1) << bad;
        EXPECT_EQ(errno, EINVAL) << bad;
    }
    EXPECT_EQ(lib_.OpenFileRaw(nullptr), -1);
    const OpenCounts opens = device_->Opens();  // none of that reached the device
    EXPECT_EQ(opens.pipe_out + opens.pipe_in + opens.probes + opens.refused, 0u);
    char buffer[32] = "PIPE01\0garbage";  // what follows the terminator does not matter
    EXPECT_TRUE(Fd(lib_.OpenFileRaw(buffer)).valid());
}

TEST_F(BridgeTest, UnterminatedNameIsRejectedWithoutReadingPastTheBuffer) {
    // The 32 bytes end exactly where an inaccessible page starts.
    const long page = sysconf(_SC_PAGESIZE);
    void* map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    char* base = static_cast<char*>(map);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
    char* name = base + page - 32;
    std::memcpy(name, "PIPE00XXXXXXXXXXXXXXXXXXXXXXXXXX", 32);
    EXPECT_EQ(lib_.OpenFileRaw(name), -1);
    EXPECT_EQ(errno, EINVAL);
    munmap(map, 2 * page);
}

TEST_F(BridgeTest, DescriptorsAreBoundedAsTheEnvironmentSays) {
    SetEnv("Z31_USB_READ_TIMEOUT_MS", "1234");
    SetEnv("Z31_USB_WRITE_TIMEOUT_MS", "567");
    const Fd in = Open("PIPE01");
    const Fd out = Open("PIPE00");
    // The kernel keeps socket time-outs in clock ticks, so they come back rounded.
    EXPECT_NEAR(TimeoutMs(in, SO_RCVTIMEO), 1234, 10);
    EXPECT_NEAR(TimeoutMs(out, SO_SNDTIMEO), 567, 10);
    EXPECT_TRUE(fcntl(in.get(), F_GETFD) & fcntl(out.get(), F_GETFD) & FD_CLOEXEC);
    for (const char* unbounded : {"0", "-5", "abc", "12ms", "99999999999"}) {
        SetEnv("Z31_USB_READ_TIMEOUT_MS", unbounded);
        SetEnv("Z31_USB_WRITE_TIMEOUT_MS", unbounded);
        EXPECT_NEAR(TimeoutMs(Open("PIPE01"), SO_RCVTIMEO), 3000, 10) << unbounded;
        EXPECT_NEAR(TimeoutMs(Open("PIPE00"), SO_SNDTIMEO), 1000, 10) << unbounded;
    }
}

TEST_F(BridgeTest, SilentListenerTimesOut) {
    const std::string path = dir_.path() + "/silent.sock";  // listens, never accepts
    Fd silent(socket(AF_UNIX, SOCK_SEQPACKET, 0));
    sockaddr_un addr{AF_UNIX, {}};
    std::strcpy(addr.sun_path, path.c_str());
    ASSERT_EQ(bind(silent.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(silent.get(), 4), 0);
    SetEnv("Z31_USB_SOCKET", path);
    SetEnv("Z31_USB_OPEN_TIMEOUT_MS", "100");
    EXPECT_EQ(lib_.OpenDev(), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
}

TEST_F(BridgeTest, LoadsAndUnloadsRepeatedlyWithoutLeaking) {
    const int before = CountOpenFds();
    for (int i = 0; i < 20; ++i) {
        BridgeLib lib;
        ASSERT_TRUE(lib.Loaded());
        const Fd probe(lib.OpenDev()), out(lib.OpenFile("PIPE00")), in(lib.OpenFile("PIPE01"));
        ASSERT_TRUE(probe.valid() && out.valid() && in.valid());
    }
    EXPECT_EQ(device_->Opens().probes, 20u);
    // The device closes its ends as it notices the other ends gone.
    EXPECT_TRUE(WaitForFdCount(before)) << CountOpenFds() << " descriptors, not " << before;
}

TEST(BridgeLibrary, ExportsOnlyItsTwoEntryPoints) {
    std::ifstream file(PIPEBRIDGE_PATH, std::ios::binary);
    const std::string elf{std::istreambuf_iterator<char>(file), {}};
    ASSERT_GT(elf.size(), sizeof(Elf64_Ehdr));
    const auto* eh = reinterpret_cast<const Elf64_Ehdr*>(elf.data());
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(elf.data() + eh->e_shoff);
    std::set<std::string> exported;
    for (int i = 0; i < eh->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNSYM) continue;
        const char* names = elf.data() + sections[sections[i].sh_link].sh_offset;
        const auto* syms = reinterpret_cast<const Elf64_Sym*>(elf.data() + sections[i].sh_offset);
        for (std::size_t s = 0; s < sections[i].sh_size / sizeof(Elf64_Sym); ++s) {
            const int bind = ELF64_ST_BIND(syms[s].st_info);
            if (syms[s].st_shndx != SHN_UNDEF && (bind == STB_GLOBAL || bind == STB_WEAK)) {
                exported.insert(names + syms[s].st_name);
            }
        }
    }
    EXPECT_EQ(exported, (std::set<std::string>{"open_dev", "open_file"}));
}

}  // namespace
}  // namespace z31sim::testing
