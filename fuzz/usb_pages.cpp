// The UserSetting page (CUserSettingDlg) reading the settings record, the user speeds and the
// user points from a device over USB, where the device's answers are the fuzz input. PipeBridge is
// pointed at a library whose open_dev and open_file are served here: each PIPE01 opened is a
// SOCK_SEQPACKET pair filled with the input's next reply (one message a transfer, as on the
// simulator's pipes), each PIPE00 a pair whose far end keeps what the page sent.
//
// Input: byte 0 chooses what the page does and how the device behaves:
//   bits 0-1  0 a connection is made (settings read, then user speed read), 1 the settings Read
//             button, 2 the user speed Read button, 3 Export
//   bit 2     the export is saved as .gpx (else .xls)
//   bit 3     the Save As dialog is cancelled
//   bit 4     after its transfers the device stays silent (the read times out) instead of
//             closing PIPE01 (the read finds the pipe closed)
//   bit 5     the probe finds no device
//   bit 6     PIPE01 cannot be opened
// Then the replies, one a PIPE01 open, as transfers: a 16-bit little-endian header whose low 15
// bits are the transfer's length (cut to what is left) and whose bit 15 ends the reply; the end
// of the input ends the last one. A reply holds at most kMaxTransfers transfers.
//
// Checked after each run: nothing crashed, leaked memory or descriptors; the page asked for the
// record the operation needs and nothing else; the connection is free again, and shown connected
// or, when the device was found gone, disconnected; what the page shows is the reply's values
// when a whole reply came and what it showed before otherwise; the export's message is the one
// for what happened, and a file is written only when every read of the export succeeded and
// brought every counted point, holding exactly the points of the reply.
#include <dirent.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "orvixtool/devicelink/connection_model.h"
#include "orvixtool/devicelink/pipe_bridge.h"
#include "orvixtool/devicelink/usb_exchange.h"
#include "orvixtool/settingspage/settings_codec.h"
#include "orvixtool/settingspage/user_setting_dlg.h"
#include "orvixtool/testsupport/fake_dialog.h"
#include "qvlib/util/clock.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace us = devod::usersettings;

constexpr size_t kMaxTransfers = 8;
constexpr char kPrevious[] = "the previous export";

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "usb_pages: %s\n", what.c_str());
    std::abort();
}

void Check(bool ok, const std::string& what) {
    if (!ok) Fail(what);
}

// Pauses take no time.
class NoSleepClock : public util::Clock {
public:
    uint64_t NowMs() override { return now_ms_; }
    void SleepMs(uint32_t ms) override { now_ms_ += ms; }

private:
    uint64_t now_ms_ = 0;
};

struct Reply {
    std::vector<Bytes> transfers;
};

struct Script {
    int op = 0;
    bool gpx = false;
    bool cancel = false;
    bool silent = false;
    bool probe_fails = false;
    bool input_refused = false;
    std::vector<Reply> replies;
};

Script Parse(const uint8_t* data, size_t size) {
    Script script;
    if (size == 0) return script;
    const uint8_t mode = data[0];
    script.op = mode & 3;
    script.gpx = (mode & 0x04) != 0;
    script.cancel = (mode & 0x08) != 0;
    script.silent = (mode & 0x10) != 0;
    script.probe_fails = (mode & 0x20) != 0;
    script.input_refused = (mode & 0x40) != 0;
    size_t at = 1;
    Reply reply;
    bool open = false;
    while (at + 2 <= size) {
        const unsigned header = data[at] | (data[at + 1] << 8);
        at += 2;
        const size_t length = std::min<size_t>(header & 0x7FFF, size - at);
        if (reply.transfers.size() < kMaxTransfers) {
            reply.transfers.emplace_back(data + at, data + at + length);
        }
        at += length;
        open = true;
        if ((header & 0x8000) != 0) {
            script.replies.push_back(std::move(reply));
            reply = {};
            open = false;
        }
    }
    if (open) script.replies.push_back(std::move(reply));
    return script;
}

// The device end of one run.
struct Device {
    const Script* script = nullptr;
    size_t next_reply = 0;
    int input_opens = 0;
    std::vector<int> out_peers;   // far ends of the PIPE00s, holding what the page sent
    std::vector<int> held_peers;  // far ends of silent PIPE01s, kept open until the run ends
};
Device g_device;

int HookOpenDev() {
    if (g_device.script->probe_fails) {
        errno = ENODEV;
        return -1;
    }
    return eventfd(0, EFD_CLOEXEC);
}

int HookOpenFile(char* name) {
    const std::string pipe(name, strnlen(name, 32));
    int pair[2];
    if (pipe == devod::kPipeOut) {
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) Fail("socketpair");
        g_device.out_peers.push_back(pair[1]);
        return pair[0];
    }
    if (pipe != devod::kPipeIn) {
        errno = EINVAL;
        return -1;
    }
    ++g_device.input_opens;
    if (g_device.script->input_refused) {
        errno = ENODEV;
        return -1;
    }
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) Fail("socketpair");
    const auto& replies = g_device.script->replies;
    if (g_device.next_reply < replies.size()) {
        for (const Bytes& t : replies[g_device.next_reply].transfers) {
            if (send(pair[1], t.data(), t.size(), MSG_DONTWAIT | MSG_NOSIGNAL) !=
                static_cast<ssize_t>(t.size())) {
                Fail("the reply does not fit the pipe");
            }
        }
    }
    ++g_device.next_reply;
    if (g_device.script->silent) {
        g_device.held_peers.push_back(pair[1]);
    } else {
        close(pair[1]);
    }
    return pair[0];
}

// What the page's reads of one reply get: a transfer (cut to the read's buffer), or nothing
// when the pipe is closed or silent or the transfer is empty, with the reason the page reports.
class ExpectedReads {
public:
    ExpectedReads(const Script& script, size_t reply) : script_(script) {
        if (reply < script.replies.size()) reply_ = &script.replies[reply];
    }
    std::optional<Bytes> Read(size_t capacity) {
        if (reply_ != nullptr && next_ < reply_->transfers.size()) {
            const Bytes& t = reply_->transfers[next_++];
            if (t.empty()) {
                error_ = EPIPE;
                return std::nullopt;
            }
            return Bytes(t.begin(), t.begin() + std::min(t.size(), capacity));
        }
        error_ = script_.silent ? ETIMEDOUT : EPIPE;
        return std::nullopt;
    }
    int error() const { return error_; }

private:
    const Script& script_;
    const Reply* reply_ = nullptr;
    size_t next_ = 0;
    int error_ = 0;
};

int OpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) Fail("cannot list /proc/self/fd");
    int count = 0;
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The frames each PIPE00 carried, one list a pipe.
std::vector<std::vector<Bytes>> SentFrames() {
    std::vector<std::vector<Bytes>> pipes;
    for (int fd : g_device.out_peers) {
        std::vector<Bytes> frames;
        uint8_t buffer[256];
        ssize_t n;
        while ((n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
            frames.emplace_back(buffer, buffer + n);
        }
        pipes.push_back(std::move(frames));
    }
    return pipes;
}

std::string g_dir;
std::string g_library;

struct Page {
    devod::testing::FakeControls controls;
    devod::testing::ScriptedPrompt prompt;
    devod::ConnectionModel connection;
    CUserSettingDlg dlg{controls, prompt, connection};
    Page() {
        // As the page's widget does: every change of a field's text is checked.
        controls.on_text_changed = [this](int id) { dlg.OnTextChanged(id); };
        dlg.OnInitDialog();
        // The user speed fields hold text of their own before a read.
        for (int i = 0; i < 5; ++i) controls.SetText(CUserSettingDlg::kIdUserSpeed1 + i, "-");
        // The Upgrade page's connection, without its box: the USB kind, then the Connected state.
        connection.SetKind(devod::kUsbConnection);
        connection.SetState(devod::ConnectionState::Connected);
    }
};

// The controls a settings read changes.
struct SettingsView {
    std::array<uint8_t, 6> block;
    bool kmh, mph;
    int clock, zone, mode;
    bool operator==(const SettingsView&) const = default;
};

SettingsView ViewOf(const Page& page) {
    const auto& c = page.controls;
    return {page.dlg.SettingsBlock(),
            c.IsChecked(CUserSettingDlg::kIdKmh),
            c.IsChecked(CUserSettingDlg::kIdMph),
            c.ComboSelection(CUserSettingDlg::kIdClockDisplay),
            c.ComboSelection(CUserSettingDlg::kIdTimeZone),
            c.ComboSelection(CUserSettingDlg::kIdWarningMode)};
}

// A settings read whose reply came: the record, and the controls showing its values.
void CheckSettingsShown(const Page& page, const Bytes& reply, const SettingsView& before) {
    const SettingsView now = ViewOf(page);
    Check(std::equal(now.block.begin(), now.block.end(), reply.begin()),
          "the record kept is not the reply's");
    const bool kmh = reply[us::kByteUnit] == 1;
    Check(now.kmh == kmh && now.mph == !kmh, "the speed unit shown is not the reply's");
    Check(now.clock == (reply[us::kByteClock] == 1 ? 0 : 1), "the clock shown is not the reply's");
    const uint8_t mode = reply[us::kByteWarningMode];
    Check(now.mode == (mode <= 5 ? mode : 0), "the warning mode shown is not the reply's");
    // Summer time is "Off" unless the owner chose otherwise: the offset is the zone's hours.
    const int magnitude = reply[us::kByteOffset] & 0x7F;
    const int hours = (reply[us::kByteOffset] & 0x80) != 0 ? -magnitude : magnitude;
    if (hours >= -11 && hours <= 12) {
        const std::string shown = page.controls.ComboText(CUserSettingDlg::kIdTimeZone, now.zone);
        auto row = us::FindTimeZoneByName(shown);
        Check(row && *row > 0 && us::kTimeZones[*row].hours == hours,
              "the time zone shown is not the reply's offset");
    } else {
        Check(now.zone == before.zone, "an offset of no zone changed the time zone shown");
    }
}

std::vector<std::string> SpeedFields(const Page& page) {
    std::vector<std::string> fields;
    for (int i = 0; i < 5; ++i) {
        fields.push_back(page.controls.GetText(CUserSettingDlg::kIdUserSpeed1 + i));
    }
    return fields;
}

// The operations that read one record; the settings read and the user speed read share it.
void CheckRecordRead(const Page& page, uint8_t kind, std::optional<Bytes> reply,
                     const SettingsView& settings_before,
                     const std::vector<std::string>& fields_before,
                     const std::array<uint8_t, 5>& speeds_before) {
    const size_t size = kind == us::kSettingsRecord ? 6 : 5;
    const bool whole = reply && reply->size() >= size;
    if (kind == us::kSettingsRecord) {
        if (whole) {
            CheckSettingsShown(page, *reply, settings_before);
        } else {
            Check(ViewOf(page) == settings_before, "a failed settings read changed the page");
        }
        return;
    }
    if (!whole) {
        Check(SpeedFields(page) == fields_before && page.dlg.UserSpeeds() == speeds_before,
              "a failed user speed read changed the page");
        return;
    }
    for (size_t i = 0; i < 5; ++i) {
        Check(page.dlg.UserSpeeds()[i] == (*reply)[i], "the user speeds kept are not the reply's");
        Check(SpeedFields(page)[i] == std::to_string((*reply)[i]),
              "the user speed shown is not the reply's");
    }
}

int32_t Le32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 |
                                static_cast<uint32_t>(p[3]) << 24);
}

struct Point {
    unsigned direction;
    int32_t latitude, longitude;
};

// The points of a whole user point reply: 50 to each block of 512, in its first 500 bytes; bytes
// beyond the counted points that the device did not send count as zero.
std::vector<Point> PointsOf(uint8_t count, const Bytes& first, const Bytes& second) {
    std::array<uint8_t, 1000> bytes{};
    std::copy_n(first.begin(), std::min<size_t>(first.size(), 500), bytes.begin());
    std::copy_n(second.begin(), std::min<size_t>(second.size(), 500), bytes.begin() + 500);
    std::vector<Point> points;
    for (size_t i = 0; i < std::min<size_t>(count, 100); ++i) {
        const uint8_t* p = bytes.data() + i * 10;
        points.push_back({static_cast<unsigned>(p[0] | p[1] << 8), Le32(p + 2), Le32(p + 6)});
    }
    return points;
}

// A value in 1/100000 degree written with five decimals reads back as itself.
bool SameFixed(const char* text, int32_t value) {
    char* end = nullptr;
    const double degrees = std::strtod(text, &end);
    return end != text && std::llround(degrees * 100000.0) == value;
}

void CheckXls(const std::string& text, const std::vector<Point>& points) {
    std::istringstream in(text);
    std::string line;
    Check(std::getline(in, line) && line == "No\tLat\tLong\tDir\r", "the export's header");
    for (size_t i = 0; i < points.size(); ++i) {
        Check(static_cast<bool>(std::getline(in, line)), "the export lacks a point");
        Check(!line.empty() && line.back() == '\r', "a line of the export does not end in CR LF");
        line.pop_back();
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
        Check(fields.size() == 4 && fields[0] == std::to_string(i + 1) &&
                  SameFixed(fields[1].c_str(), points[i].latitude) &&
                  SameFixed(fields[2].c_str(), points[i].longitude) &&
                  fields[3] == std::to_string(points[i].direction),
              "line " + std::to_string(i + 1) + " of the export is not the reply's point: " + line);
    }
    Check(!std::getline(in, line), "the export holds more than the reply's points");
}

void CheckGpx(const std::string& text, const std::vector<Point>& points) {
    tinyxml2::XMLDocument doc;
    Check(doc.Parse(text.data(), text.size()) == tinyxml2::XML_SUCCESS,
          "the GPX export is not XML");
    const tinyxml2::XMLElement* gpx = doc.FirstChildElement("gpx");
    Check(gpx != nullptr, "the GPX export has no gpx element");
    size_t i = 0;
    for (const auto* wpt = gpx->FirstChildElement("wpt"); wpt != nullptr;
         wpt = wpt->NextSiblingElement("wpt"), ++i) {
        Check(i < points.size(), "the GPX export holds more than the reply's points");
        const double lat = wpt->DoubleAttribute("lat", 1000);
        const double lon = wpt->DoubleAttribute("lon", 1000);
        // GPX's ranges: latitude -90..90, longitude -180 up to (not including) 180.
        Check(lat >= -90 && lat <= 90 && lon >= -180 && lon < 180,
              "a waypoint lies outside GPX's ranges");
        const auto* name = wpt->FirstChildElement("name");
        Check(name != nullptr && name->GetText() != nullptr &&
                  std::string(name->GetText()) == std::to_string(i + 1),
              "a waypoint's name is not its number");
        const auto* ext = wpt->FirstChildElement("extensions");
        const auto* point = ext != nullptr ? ext->FirstChildElement("qv:point") : nullptr;
        Check(point != nullptr &&
                  point->UnsignedAttribute("direction", 1u << 20) == points[i].direction,
              "a waypoint's direction is not the reply's");
        // The device's value: the written position, or the attribute beside a clamped one.
        const int64_t dev_lat = point->Int64Attribute("latitude", std::llround(lat * 100000.0));
        const int64_t dev_lon = point->Int64Attribute("longitude", std::llround(lon * 100000.0));
        Check(dev_lat == points[i].latitude && dev_lon == points[i].longitude,
              "a waypoint's position is not the reply's");
    }
    Check(i == points.size(), "the GPX export lacks points");
}

void CheckExport(const Page& page, const Script& script, const std::string& path) {
    const auto& boxes = page.prompt.boxes;
    const bool asked = !page.prompt.file_requests.empty();
    Check(boxes.size() == 1, "an export ends with one box");
    const std::string& text = boxes[0].text;
    const std::string file = ReadWhole(path);
    const bool kept = file == kPrevious;

    ExpectedReads reads(script, 0);
    const auto head = reads.Read(us::kReplySize);
    if (!head) {
        Check(text == std::strerror(reads.error()), "the failed count read says " + text);
        Check(!asked && kept, "a failed count read went on");
        return;
    }
    const uint8_t count = (*head)[0];
    if (count == 0) {
        Check(text == "NO user DB " && !asked && kept, "no points, yet more than NO user DB");
        return;
    }
    // Each block must hold the points the count gives it (50 a block, at most 100 in all); what
    // lies beyond them may be missing.
    const std::string cannot = "Cannot read the user DB from the Z31: ";
    std::optional<Bytes> blocks[2];
    for (size_t part = 0; part < 2; ++part) {
        blocks[part] = reads.Read(512);
        const size_t counted = std::min<size_t>(count, 100);
        const size_t needed =
            counted > part * 50 ? std::min<size_t>(counted - part * 50, 50) * 10 : 0;
        if (!blocks[part]) {
            Check(text == cannot + std::strerror(reads.error()),
                  "the failed point read says " + text);
        } else if (blocks[part]->size() < needed) {
            Check(text.starts_with(cannot), "a point block too short says " + text);
        } else {
            continue;
        }
        Check(!asked && kept, "a file was offered or written from a reply not read whole");
        return;
    }
    Check(asked, "a whole reply with points offers no file: " + text);
    if (script.cancel) {
        Check(text == "Canceled to save user db" && kept, "a cancelled export wrote a file");
        return;
    }
    Check(text == " Save User DB : Completed!", "the export says " + text);
    const auto points = PointsOf(count, *blocks[0], *blocks[1]);
    if (script.gpx) {
        CheckGpx(file, points);
    } else {
        CheckXls(file, points);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static NoSleepClock clock;
    util::InstallClock(&clock);
    // A silent device fails the read at once.
    devod::UsbExchange::SetReplyTimeoutMs(0);
    // In memory where there is such a folder: the runs write a file each time, and a disk
    // would flush every replaced file.
    std::string pattern =
        std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/fuzz_usb_pages_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp");
    g_dir = pattern;
    std::atexit([] { std::filesystem::remove_all(g_dir); });
    g_library = FUZZ_PIPEBRIDGE_LIBRARY;
    // Kept loaded for the whole run: the page's own loads of it share these hooks.
    void* bridge = dlopen(g_library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (bridge == nullptr) Fail(std::string("cannot load the bridge: ") + dlerror());
    auto set_hooks =
        reinterpret_cast<void (*)(int (*)(), int (*)(char*))>(dlsym(bridge, "fuzz_pipe_set_hooks"));
    if (set_hooks == nullptr) Fail("the bridge has no fuzz_pipe_set_hooks");
    set_hooks(HookOpenDev, HookOpenFile);
    devod::PipeBridge::SetLibraryPath(g_library);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Script script = Parse(data, size);
    const int descriptors = OpenDescriptors();
    g_device = {};
    g_device.script = &script;
    const std::string path = g_dir + (script.gpx ? "/points.gpx" : "/points.xls");
    {
        Page page;
        const SettingsView settings_before = ViewOf(page);
        const std::vector<std::string> fields_before = SpeedFields(page);
        const auto speeds_before = page.dlg.UserSpeeds();

        std::vector<std::vector<Bytes>> frames;  // what each PIPE00 should carry
        const bool gone = script.probe_fails || script.input_refused;
        switch (script.op) {
            case 0: page.connection.AnnounceConnected(); break;
            case 1: page.dlg.OnCommand(CUserSettingDlg::kIdModeRead); break;
            case 2: page.dlg.OnCommand(CUserSettingDlg::kIdSpeedRead); break;
            default:
                std::ofstream(path, std::ios::binary) << kPrevious;
                page.prompt.AnswerFile(script.cancel ? std::nullopt
                                                     : std::optional<std::string>(path));
                page.dlg.OnCommand(CUserSettingDlg::kIdExport);
                break;
        }

        // The requests: one exchange an operation, two for a connection unless the first found
        // the device gone. A refused PIPE01 leaves its PIPE00 without a frame.
        std::vector<uint8_t> kinds;
        if (script.op == 0) kinds = {us::kSettingsRecord, us::kUserSpeeds};
        if (script.op == 1) kinds = {us::kSettingsRecord};
        if (script.op == 2) kinds = {us::kUserSpeeds};
        if (script.op == 3) kinds = {us::kUserPoints};
        if (gone) kinds.resize(1);
        const int opens = script.probe_fails ? 0 : static_cast<int>(kinds.size());
        Check(g_device.input_opens == opens,
              "the page opened PIPE01 " + std::to_string(g_device.input_opens) + " times");
        std::vector<std::vector<Bytes>> expected;
        if (!script.probe_fails) {
            for (uint8_t kind : kinds) {
                expected.push_back(script.input_refused
                                       ? std::vector<Bytes>{}
                                       : std::vector<Bytes>{{us::kFrameMark, kind, 1}});
            }
        }
        Check(SentFrames() == expected, "the page sent other frames than its read requests");

        // The connection is free again: shown connected, or disconnected when the device was
        // found gone.
        Check(!page.connection.Busy(), "the device stays busy");
        for (int id : CUserSettingDlg::kDeviceControls) {
            Check(page.controls.IsEnabled(id) == !gone, "the device controls do not show the link");
        }
        if (gone) {
            Check(page.connection.State() == devod::ConnectionState::Disconnected &&
                      page.connection.Kind() == devod::kNoConnection,
                  "a device found gone is still connected");
            Check(page.prompt.boxes.empty() && page.prompt.file_requests.empty(),
                  "a device found gone asked the owner something");
            Check(ViewOf(page) == settings_before && SpeedFields(page) == fields_before,
                  "a device found gone changed the page");
        } else {
            Check(page.connection.State() == devod::ConnectionState::Connected &&
                      page.connection.Kind() == devod::kUsbConnection,
                  "the connection was lost");
            if (script.op == 3) {
                CheckExport(page, script, path);
            } else {
                Check(page.prompt.boxes.empty(), "a read showed a box");
                // Each read changes only what it reads.
                if (script.op == 1) {
                    Check(SpeedFields(page) == fields_before, "a settings read changed a speed");
                }
                if (script.op == 2) {
                    Check(ViewOf(page) == settings_before, "a speed read changed the settings");
                }
                for (size_t i = 0; i < kinds.size(); ++i) {
                    ExpectedReads reads(script, i);
                    CheckRecordRead(page, kinds[i], reads.Read(us::kReplySize), settings_before,
                                    fields_before, speeds_before);
                }
            }
        }
        if (!page.prompt.unexpected.empty()) Fail("unexpected: " + page.prompt.unexpected[0]);
    }
    for (int fd : g_device.out_peers) close(fd);
    for (int fd : g_device.held_peers) close(fd);
    g_device = {};
    Check(OpenDescriptors() == descriptors, "descriptors were left open");
    return 0;
}
