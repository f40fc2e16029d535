#include <memory>
#include <optional>
#include <sys/stat.h>

#include "archive/ArchiveWriter.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EditOutput.h"
#include "cli/EntryLookup.h"
#include "edit/Replacement.h"
#include "platform/Errors.h"
#include "platform/png/PictureReader.h"
#include "viewers/PictureExport.h"
#include "viewers/encoders/PictureUpdate.h"

namespace qar {

std::optional<vorlr::NewData> PrepareReplacement(const vorlr::Archive& archive, size_t index,
                                                 const std::string& file);

namespace {

struct ReplaceOptions {
    std::string archive, name, file;
    EditOutput output;
};

int run(const ReplaceOptions& o) {
    vorlr::Archive archive;
    OpenWithDirectory(archive, o.archive);
    const size_t index = ResolveSingleEntry(archive, o.name);
    struct stat st{};
    if (::stat(o.file.c_str(), &st) != 0)
        return fail(o.file + ": " + vorlr::runtimeErrorText(vorlr::runtimeCodeFromErrno(errno)));
    if (!S_ISREG(st.st_mode)) return fail(o.file + ": not a regular file");
    vorlr::ArchiveEdit edit;
    // The same pixels: the entry stays byte for byte as it is.
    if (std::optional<vorlr::NewData> data = PrepareReplacement(archive, index, o.file))
        edit.replace[index] = std::move(*data);
    WriteEdit(archive, edit, o.archive, o.output);
    return 0;
}

}  // namespace

// The new data of entry index from file: stored as it is, except a picture file (PNG, BMP) for a
// .kmg or .tga entry, which is encoded like the entry (nothing when its pixels are the entry's
// own). A file named STEM_N.png (as extract names sub-images) stands for sub-image N of a
// palette KMG with several; otherwise sub-image 0.
std::optional<vorlr::NewData> PrepareReplacement(const vorlr::Archive& archive, size_t index,
                                                 const std::string& file) {
    if (!vorlr::IsPictureEntry(archive.entry(index)) || !vorlr::IsPictureFile(file))
        return vorlr::NewData{file, {}};
    vorlr::PictureReplacement replacement;
    replacement.picture = vorlr::ReadPictureFile(file);
    const std::optional<size_t> named = vorlr::SubImageNumber(file);
    replacement.at = [named](size_t count) -> std::optional<size_t> {
        return count > 1 ? named.value_or(0) : 0;
    };
    const vorlr::ArchiveEntry entry = archive.entry(index);
    vorlr::ArchiveReader reader = archive.entryReader(index);
    try {
        std::optional<std::vector<uint8_t>> bytes =
            vorlr::ReplacePictureOf(reader, vorlr::EntryBytesOf(archive, entry),
                                    vorlr::EntryKindOfStored(entry.name), std::move(replacement));
        if (!bytes) return std::nullopt;
        return vorlr::NewData{{}, std::move(*bytes)};
    } catch (const vorlr::Error& e) {
        throw vorlr::Error(file + ": " + e.what());
    }
}

// qar replace ARCHIVE NAME FILE (-o OUT | --in-place [--backup])
void addReplaceCommand(CommandLine& line) {
    auto o = std::make_shared<ReplaceOptions>();
    CLI::App* cmd = line.add({"replace", "qar replace ARCHIVE NAME FILE (-o OUT | --in-place [--backup])", "an archive with entry NAME's data taken from FILE", kEditDetails}, [o] {
        if (const std::string p = EditOutputProblem(o->output); !p.empty())
            return usage("replace", p);
        return run(*o);
    });
    cmd->add_option("ARCHIVE", o->archive)->required();
    cmd->add_option("NAME", o->name)->required();
    cmd->add_option("FILE", o->file)->required();
    AddEditOptions(*cmd, o->output);
}

}  // namespace qar
