#pragma once
// Planning `qar update`: which entries a folder (as extraction writes it) changes, adds and
// removes. The plan is an ArchiveEdit for the writer plus one line per change.
//
// Every regular file under the folder names an entry as extraction writes it: its relative path
// with '/' for the stored name's separators; for a .kmg/.tga entry also the pictures
// `extract --convert` writes (STEM.png or STEM_i.png, STEM being the entry's file name up to its
// first '.'; .bmp likewise). A path that is an entry's own name wins over a picture reading of
// it; of two picture readings (NAME_1.png: entry NAME_1's picture or sub-image 1 of NAME) the
// later entry's, which extraction wrote last. Of duplicated names the last entry is the one a
// file stands for, as extraction leaves it on disk. The folder is walked without following symbolic links; links and other special files
// are left alone (and keep the entries they stand in the way of).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/ArchiveWriter.h"
#include "archive/SafeExtract.h"

namespace vorlr {

// A picture file found for an entry: its suffix after the stem (".png", "_2.bmp") and where it is.
struct PictureFileRef {
    std::string suffix;
    std::string relativePath;  // under the folder, '/' separated
    std::string diskPath;      // folder + "/" + relativePath
};

// What the pictures need beyond this layer: which entries are pictures, and the verdict on an
// entry's picture files, run on worker threads (several entries at once, the archive read only
// through readers of its own): nothing when the files hold the entry's pictures (pixels and
// transparency; sub-images without a file count as unchanged), else the entry's new bytes.
// A failure raises Error whose text starts with the name of the file concerned.
struct UpdatePictures {
    std::function<bool(const ArchiveEntry&)> applies;
    std::function<std::optional<std::vector<uint8_t>>(const Archive&, size_t index,
                                                      const std::vector<PictureFileRef>& files)>
        judge;
    int workers = 1;
};

struct UpdateOptions {
    bool deleteMissing = false;
    const UpdatePictures* pictures = nullptr;  // none: picture file names are plain names
    std::vector<std::string> exclude;          // files never taken (the output, say)
};

struct UpdateChange {
    char kind = 'M';   // 'M' replaced, 'A' added, 'D' removed
    std::string name;  // stored name, '\' separated
    std::optional<size_t> index = std::nullopt;  // the entry of M and D (in the source)
};

struct UpdatePlan {
    ArchiveEdit edit;
    std::vector<UpdateChange> changes;  // M and D in directory order, then A in sorted order
    std::vector<std::string> errors;    // not empty: nothing may be written
    size_t unchanged = 0;               // entries whose files hold what they hold
};

// Compares the folder with the archive (open, its directory read). Folder errors (a folder that
// cannot be read) raise; problems of single files go into errors.
UpdatePlan PlanFolderUpdate(const Archive& archive, const std::string& dir, const UpdateOptions& options);

}  // namespace vorlr
