// Puts a finished download in place of the local file it replaces.
#pragma once

#include <string>

namespace devod {

// Renames `part` (the finished download) over `name`. rename() replaces an old file in one step,
// so the old file goes only when the new one is there. What it cannot replace (a directory, say)
// is moved aside to "DEL_" + its base name in the same folder, after deleting an earlier one of
// those; then the rename is tried again. Throws devod::FileError (http_client.h) naming the file
// and the reason when the last rename fails; `part` is then still there for the caller to remove.
void PlaceDownloadedFile(const std::string& part, const std::string& name);

}  // namespace devod
