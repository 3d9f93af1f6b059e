// A backup file of a device on USB (GPX with the settings record and the user speeds in its
// metadata): what the reader accepts is written again as a backup that reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "orvixtool/settingspage/device_backup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto read = devod::usersettings::ParseBackup(text, &error);
    if (!read) {
        if (error.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    const std::string written = devod::usersettings::FormatBackup(*read, "2026-12-10T08:00:00Z");
    const auto back = devod::usersettings::ParseBackup(written, &error);
    if (!back || !(*back == *read)) std::abort();
    return 0;
}
