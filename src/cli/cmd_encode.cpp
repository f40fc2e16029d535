// qar encode: pictures (PNG, BMP) back into a .kmg or .tga file, by kind or like an entry.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/EntryKind.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EntryLookup.h"
#include "platform/Errors.h"
#include "platform/png/PictureReader.h"
#include "platform/RuntimeFile.h"
#include "platform/Text.h"
#include "viewers/encoders/PictureEncoder.h"

namespace qar {
namespace {

struct EncodeRequest {
    std::vector<std::string> pictures;
    std::string out;
    vorlr::EntryKind format = vorlr::EntryKind::None;  // from OUT's extension
    std::optional<std::pair<std::string, std::string>> like;  // ARCHIVE, NAME
    std::optional<vorlr::PictureKind> kind;
    bool keepPalette = false;
    bool dither = false;
};

// Wrong usage prints its reason (when there is one) and the synopsis; returns false.
bool refuse(const std::string& why) {
    if (!why.empty()) std::fprintf(stderr, "qar encode: %s\n", why.c_str());
    return false;
}

// The words as CLI11 split them, checked together; false for wrong usage.
bool checkEncode(EncodeRequest& r, std::vector<std::string> words,
                 const std::vector<std::string>& like, const std::string& kind) {
    if (!like.empty()) {
        if (like.size() != 2) return refuse("--like needs ARCHIVE and NAME");
        r.like = {like[0], like[1]};
    }
    if (!kind.empty()) {
        r.kind = vorlr::PictureKindNamed(kind);
        if (!r.kind)
            return refuse("unknown kind '" + kind +
                          "' (rgb16, palette, tga8, tga24, tga32, grey, tga24rle, tga32rle)");
    }
    if (words.size() < 2) return refuse("missing OUT");
    r.out = words.back();
    words.pop_back();
    r.pictures = std::move(words);

    const size_t slash = r.out.find_last_of('/'), dot = r.out.find_last_of('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string ext = hasExt ? vorlr::lowerAZ(r.out.substr(dot + 1)) : std::string();
    if (ext == "kmg")
        r.format = vorlr::EntryKind::Kmg;
    else if (ext == "tga")
        r.format = vorlr::EntryKind::Targa;
    else
        return refuse("OUT must end in .kmg or .tga");
    if (r.like && r.kind) return refuse("--like and --kind exclude each other");
    if (r.keepPalette && !r.like) return refuse("--keep-palette needs --like ARCHIVE NAME");
    if (r.kind && vorlr::IsKmgKind(*r.kind) != (r.format == vorlr::EntryKind::Kmg))
        return refuse(std::string("kind ") + vorlr::PictureKindName(*r.kind) + " makes a ." +
                      (vorlr::IsKmgKind(*r.kind) ? "kmg" : "tga") + " file");
    if (r.kind && *r.kind != vorlr::PictureKind::Palette && r.pictures.size() > 1)
        return refuse("several PICTUREs make only a palette .kmg");
    if (!r.like && !r.kind && r.format == vorlr::EntryKind::Targa && r.pictures.size() > 1)
        return refuse("several PICTUREs make only a palette .kmg");
    return true;
}

// Written beside the target and renamed over it: a failure leaves OUT as it was.
void writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string temp = path + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) throw vorlr::Error("Cannot create file \"" + vorlr::fullFileName(path) + "\". " +
                                   vorlr::runtimeErrorText(vorlr::runtimeCodeFromErrno(errno)));
    bool open = true;
    try {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        (void)::fchmod(fd, 0666 & ~mask);  // mkstemp makes the file private
        vorlr::writeAll(fd, bytes.data(), int64_t(bytes.size()));
        if (::fsync(fd) != 0) vorlr::throwWriteError(errno);
        const int closed = ::close(fd);
        open = false;
        if (closed != 0) vorlr::throwWriteError(errno);
        vorlr::renameFile(temp, path);
    } catch (...) {
        if (open) ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
}

std::vector<vorlr::Bitmap24> readPictures(const std::vector<std::string>& paths) {
    std::vector<vorlr::Bitmap24> pictures;
    for (const std::string& path : paths) {
        try {
            pictures.push_back(vorlr::ReadPictureFile(path));
        } catch (const vorlr::FileError& e) {
            throw vorlr::Error(path + ": " + e.what());
        }
    }
    return pictures;
}

int runEncode(const EncodeRequest& r) {
    const std::vector<vorlr::Bitmap24> pictures = readPictures(r.pictures);
    vorlr::PictureEncodeOptions options;
    options.keepPalette = r.keepPalette;
    options.dither = r.dither;
    std::vector<uint8_t> bytes;
    if (r.like) {
        vorlr::Archive archive;
        OpenWithDirectory(archive, r.like->first);
        const std::string& name = r.like->second;
        const size_t index = ResolveEntry(archive, name);
        const vorlr::EntryKind kind = vorlr::EntryKindOfStored(archive.entry(index).name);
        if (kind != vorlr::EntryKind::Kmg && kind != vorlr::EntryKind::Targa)
            return fail(name + ": not a .kmg or .tga entry");
        if (kind != r.format)
            return fail(name + " is a " + (kind == vorlr::EntryKind::Kmg ? ".kmg" : ".tga") +
                        " entry; OUT must end in the same");
        std::vector<uint8_t> model;
        CopyEntry(archive, index, [&model](const uint8_t* data, int64_t count) {
            model.insert(model.end(), data, data + count);
        });
        bytes = vorlr::EncodePicturesLike(pictures, kind, model, options);
    } else {
        const vorlr::PictureKind kind = r.kind ? *r.kind : vorlr::DefaultPictureKind(r.format, pictures);
        bytes = vorlr::EncodePictures(pictures, kind, options);
    }
    writeFileAtomically(r.out, bytes);
    return 0;
}

}  // namespace


void addEncodeCommand(CommandLine& line) {
    struct Words {
        std::vector<std::string> words, like;
        std::string kind;
        EncodeRequest request;
    };
    auto o = std::make_shared<Words>();
    CLI::App* cmd = line.add(
        {"encode",
         "qar encode PICTURE... OUT [--like ARCHIVE NAME] [--kind KIND] [--keep-palette] [--dither]",
         "pictures (PNG, BMP) to a .kmg or .tga file",
         "OUT's extension gives the format. Several PICTUREs make the sub-images of a\n"
         "palette KMG. --like takes the kind, the palette, the Targa type and depth and\n"
         "every byte the viewer does not read from that entry. KIND is rgb16, palette,\n"
         "tga8, tga24, tga32, grey, tga24rle or tga32rle; without --like or --kind a .kmg\n"
         "is a palette one when the pictures hold transparency or at most 255 colours\n"
         "(else rgb16), a .tga 24-bit (32-bit when a picture has alpha). Palette pictures\n"
         "keep the entry's palette when it holds every colour, else get a new one of at\n"
         "most 255 colours; alpha below 128 is transparent. --keep-palette maps every\n"
         "colour to the nearest in the entry's palette; --dither spreads the error where\n"
         "colours are approximated."},
        [o] {
            if (!checkEncode(o->request, o->words, o->like, o->kind)) return usage("encode");
            return runEncode(o->request);
        });
    const auto last = CLI::MultiOptionPolicy::TakeLast;
    cmd->add_option("PICTURE", o->words)->required();
    cmd->add_option("--like", o->like)->expected(2)->multi_option_policy(last);
    cmd->add_option("--kind", o->kind)->multi_option_policy(last);
    cmd->add_flag("--keep-palette", o->request.keepPalette);
    cmd->add_flag("--dither", o->request.dither);
}

}  // namespace qar
