// A device's answer to the settings read: the settings line is found (or not) in any bytes, and
// lists built from it travel back as the same words.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "qvlib/settings/records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);  // zero-terminated
    const auto words = qv::FindSettingsWords(reply.c_str());
    if (!words) return 0;
    const qv::SettingsLists lists = qv::ListsFromWords(*words);
    const std::string written = qv::FormatSettingsWrite(lists);
    const auto back = qv::FindSettingsWords(written.c_str());
    if (!back) std::abort();
    // Words that carry a value come back as they were read.
    if (qv::ListsFromWords(*back).user_speed != lists.user_speed) std::abort();
    return 0;
}
