// The table of device models: at which baud rates each model is reached and what it answers to
// the device-ID query. Reloaded at every session open; looked up from other threads too, so a
// reload builds the new table aside and swaps it in under a lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qv {

struct ModelInfo {
    std::string name;     // compared exactly, case-sensitive
    std::string id_code;  // the device's answer to the device-ID query
    int32_t nmea_baud = 0;
    int32_t command_baud = 0;
};

// The built-in rows, used when "model.txt" cannot be opened.
const std::vector<ModelInfo>& BuiltInModels();
// The row a new session holds and the device finder falls back on.
const ModelInfo& DefaultModel();

// Parses a model file's text: one row per line of exactly 4 or 6 comma-separated fields (empty
// fields skipped, fields not trimmed); reading stops at a line that does not fit a 1024-byte
// buffer together with its line end.
std::vector<ModelInfo> ParseModelFile(std::FILE* file);

class ModelTable {
public:
    // Reads "model.txt" from the current directory, or takes the built-in rows when it cannot be
    // opened, and replaces the table (even with no rows).
    void Load(const char* file_name = "model.txt");
    std::optional<ModelInfo> Find(const std::string& name) const;
    std::vector<ModelInfo> Rows() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<ModelInfo> rows_;
};

}  // namespace qv
