#include "qvlib/session/model_table.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qv {
namespace {

// Decimal number as the C library reads it: leading blanks, optional sign, digits up to the first
// non-digit; 0 without digits. Out-of-range values saturate instead of overflowing.
int32_t ToInt(const std::string& field) {
    errno = 0;
    long value = std::strtol(field.c_str(), nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

std::vector<std::string> SplitFields(const char* line) {
    std::vector<std::string> fields;
    const char* p = line;
    while (*p != '\0') {
        size_t n = std::strcspn(p, ",");
        if (n > 0) fields.emplace_back(p, n);
        p += n;
        if (*p == ',') ++p;
    }
    return fields;
}

}  // namespace

const std::vector<ModelInfo>& BuiltInModels() {
    static const std::vector<ModelInfo> rows = {
        {"Z21PRO", "Z21P001", 115200, 115200}, {"Z22LTE", "Z22L002", 4800, 115200},
        {"Z23LTE", "Z23L003", 4800, 115200},   {"Z24LTE", "Z24L004", 4800, 115200},
        {"Z30STD", "Z30S005", 4800, 115200},   {"Z31STD", "Z31S006", 4800, 115200},
        {"Z32STD", "Z32S007", 4800, 115200},   {"Z33STD", "Z33S008", 4800, 115200},
        {"Z34MAP", "Z34M009", 4800, 115200},   {"Z35MAP", "Z35M010", 4800, 115200},
        {"Z36MAP", "Z36M011", 4800, 115200},   {"Z40PRO", "Z40P012", 115200, 115200},
    };
    return rows;
}

const ModelInfo& DefaultModel() { return BuiltInModels()[5]; }

std::vector<ModelInfo> ParseModelFile(std::FILE* file) {
    std::vector<ModelInfo> rows;
    char line[1024];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        size_t length = std::strlen(line);
        bool complete = length > 0 && line[length - 1] == '\n';
        if (!complete && !std::feof(file)) break;  // a line longer than the buffer ends reading
        // The line end is no part of the last field, whether the file came with "\n" or "\r\n".
        while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) {
            line[--length] = '\0';
        }
        std::vector<std::string> fields = SplitFields(line);
        if (fields.size() != 4 && fields.size() != 6) continue;
        rows.push_back({fields[0], fields[1], ToInt(fields[2]), ToInt(fields[3])});
    }
    return rows;
}

void ModelTable::Load(const char* file_name) {
    std::vector<ModelInfo> rows;
    if (std::FILE* file = std::fopen(file_name, "r")) {
        rows = ParseModelFile(file);
        std::fclose(file);
    } else {
        rows = BuiltInModels();
    }
    std::lock_guard lock(mutex_);
    rows_.swap(rows);
}

std::optional<ModelInfo> ModelTable::Find(const std::string& name) const {
    std::lock_guard lock(mutex_);
    for (const ModelInfo& row : rows_) {
        if (row.name == name) return row;
    }
    return std::nullopt;
}

std::vector<ModelInfo> ModelTable::Rows() const {
    std::lock_guard lock(mutex_);
    return rows_;
}

void ModelTable::Clear() {
    std::lock_guard lock(mutex_);
    rows_.clear();
}

}  // namespace qv
