#include "orvixtool/web/file_place.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "orvixtool/web/http_client.h"

namespace devod {

void PlaceDownloadedFile(const std::string& part, const std::string& name) {
    if (::rename(part.c_str(), name.c_str()) == 0) return;
    size_t slash = name.rfind('/');
    size_t base = slash == std::string::npos ? 0 : slash + 1;
    std::string aside = name.substr(0, base) + "DEL_" + name.substr(base);
    // The results of these two are not needed: the last rename tells.
    ::unlink(aside.c_str());
    ::rename(name.c_str(), aside.c_str());
    if (::rename(part.c_str(), name.c_str()) != 0) {
        int error = errno;
        throw FileError("cannot replace \"" + name + "\": " + std::strerror(error));
    }
}

}  // namespace devod
