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
// file stands for, as extraction leaves it on disk. The folder is walked without following
// symbolic links; links and other special files are left alone (and keep the entries they stand
// in the way of).
//
// Matching by file name (for folders that do not mirror the archive's paths): a file whose path
// names no entry stands for the one entry in scope whose file name is the file's (or whose
// pictures' names are), letters A-Z in either case; a name several entries have is ambiguous.
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
    bool matchNames = false;
    // The entries the folder is compared with (none: all). The others keep their data whatever
    // files name them, are never removed and never matched by file name.
    std::function<bool(size_t index)> inScope;
    const UpdatePictures* pictures = nullptr;  // none: picture file names are plain names
    std::vector<std::string> exclude;          // files never taken (the output, say)
    // Called before each entry is compared (done of total) and once at the end, on the planning
    // thread, with the plan so far (its changes and refusals grow as entries are compared);
    // false stops the comparison: the plan is then cancelled.
    std::function<bool(const struct UpdatePlan& sofar, size_t done, size_t total)> progress;
};

struct UpdateChange {
    char kind = 'M';   // 'M' replaced, 'A' added, 'D' removed
    std::string name;  // stored name, '\' separated
    std::optional<size_t> index = std::nullopt;  // the entry of M and D (in the source)
};

// A file or entry that cannot be taken, and why (also in errors).
struct UpdateRefusal {
    char kind = 'M';     // what it would have been: 'M' or 'A'
    std::string name;    // stored name
    std::string file;    // relative path
    std::string reason;  // without the file's name
    std::optional<size_t> index = std::nullopt;
};

// A file whose name several entries in scope have (matching by file name).
struct UpdateAmbiguity {
    std::string file;                // relative path
    std::vector<size_t> candidates;  // entry indexes in directory order
};

struct UpdatePlan {
    ArchiveEdit edit;
    std::vector<UpdateChange> changes;  // M and D in directory order, then A in sorted order
    std::vector<std::string> errors;    // not empty: nothing may be written
    std::vector<UpdateRefusal> refused;
    std::vector<UpdateAmbiguity> ambiguous;  // not empty: nothing may be written either
    size_t unchanged = 0;               // entries whose files hold what they hold
    bool cancelled = false;             // stopped by progress: incomplete, nothing may be written
};

// Compares the folder with the archive (open, its directory read). Folder errors (a folder that
// cannot be read) raise; problems of single files go into errors.
UpdatePlan PlanFolderUpdate(const Archive& archive, const std::string& dir, const UpdateOptions& options);

}  // namespace vorlr
