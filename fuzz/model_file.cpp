// A model.txt: any bytes give a table (perhaps empty) without a fault.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "qvlib/session/model_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (file == nullptr) return 0;
    const auto rows = qv::ParseModelFile(file);
    std::fclose(file);
    for (const auto& row : rows) (void)row.name.size();
    return 0;
}
