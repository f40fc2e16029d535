#pragma once
// A picture put in place of one sub-image of a .kmg or .tga entry, encoded like the entry: the
// one way a replacement picture becomes an entry's bytes, for the window's Replace..., a program
// saving a working copy, and `qar replace`.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/EntryKind.h"
#include "platform/Bitmap24.h"
#include "platform/ByteSource.h"

namespace vorlr {

struct PictureReplacement {
    Bitmap24 picture;
    // Which sub-image it replaces, given the number the entry holds; nothing: none (cancelled).
    std::function<std::optional<size_t>(size_t count)> at;
    // Only a picture of the sub-image's own size (a write-back may not move the entry's layout).
    bool sameSize = false;
};

// entry reads the entry's bytes from the first, model holds them (every byte the decoder does
// not read is taken from there). nullopt when nothing changes: the sub-image has these very
// pixels and transparency already, or none was chosen.
std::optional<std::vector<uint8_t>> ReplacePictureOf(ByteSource& entry, const std::vector<uint8_t>& model,
                                                     EntryKind kind, PictureReplacement replacement);

}  // namespace vorlr
