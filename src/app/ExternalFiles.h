#pragma once
// What the window's ways to and from the desktop's programs share: folders of the program's own
// for working copies and dragged files, plain file names for entries, and copies of an entry's
// bytes to a file.
#include <functional>
#include <string>
#include <string_view>

#include "archive/EntryKind.h"
#include "platform/ByteSource.h"
#include "platform/Text.h"

namespace vorlr::external {

// Events are dispatched this often while files are written for a drag.
constexpr long long kDispatchMs = 20;

// A fresh folder of this program's own (mode 0700) under $XDG_CACHE_HOME/vorlr for one purpose.
std::string makePrivateFolder(const std::string& prefix);
// A stored name's last segment as a plain file name.
std::string plainName(std::string_view stored);
// Copies size bytes (or up to the end) from source to a new file at path; between runs after
// each block and may stop the copy.
void copyTo(ByteSource& source, int64_t size, const std::string& path,
            const std::function<bool()>& between);
// Where the programs chosen with Open with... are kept.
std::string configFile();

}  // namespace vorlr::external
