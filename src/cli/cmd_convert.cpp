// qar convert: a .kmg or .tga entry decoded as the viewer decodes it, written as BMP or PNG.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/EntryKind.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EntryLookup.h"
#include "platform/Bitmap24.h"
#include "platform/png/PngWriter.h"
#include "platform/Text.h"
#include "viewers/PictureExport.h"
#include "viewers/TargaDecoder.h"

namespace qar {
namespace {

void writePicture(const vorlr::Bitmap24& picture, const std::string& path, bool png) {
    if (!png) {
        picture.saveToFile(path);  // the same bytes the viewer's Save writes
        return;
    }
    if (picture.empty()) throw vorlr::Error("Cannot write " + path + ": the picture is empty");
    vorlr::savePng(picture, path);
}

struct ConvertOptions {
    std::string archive;
    std::string name;
    std::string out;
    bool all = false;
};

// Each sub-image i as STEM_i.EXT; one without pixels is reported and skipped.
int writeAll(const std::vector<vorlr::Bitmap24>& pictures, const std::string& out, size_t dot,
             bool png) {
    const std::string stem = out.substr(0, dot);
    int status = 0;
    for (size_t i = 0; i < pictures.size(); ++i) {
        const std::string path = stem + "_" + std::to_string(i) + "." + out.substr(dot + 1);
        if (pictures[i].empty()) {
            status = fail("sub-image " + std::to_string(i) + " has no pixels; " + path +
                          " not written");
            continue;
        }
        writePicture(pictures[i], path, png);
    }
    return status;
}

int runConvert(const ConvertOptions& o) {
    const std::string& out = o.out;
    const size_t slash = out.find_last_of('/');
    const size_t dot = out.find_last_of('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string outExt = hasExt ? vorlr::lowerAZ(out.substr(dot + 1)) : std::string();
    if (outExt != "bmp" && outExt != "png") {
        return usage("convert", "OUT must end in .bmp or .png");
    }
    const bool png = outExt == "png";

    vorlr::Archive archive;
    OpenWithDirectory(archive, o.archive);
    const size_t index = ResolveEntry(archive, o.name);
    vorlr::ArchiveReader reader = archive.entryReader(index);
    vorlr::BufferedByteSource source(reader);
    const vorlr::EntryKind kind = vorlr::EntryKindOfStored(archive.entry(index).name);
    if (kind != vorlr::EntryKind::Targa && kind != vorlr::EntryKind::Kmg)
        return fail(o.name + ": not a .kmg or .tga entry");
    vorlr::EntryPictures decoded;
    try {
        decoded = vorlr::DecodeEntryPictures(source, kind);
    } catch (const vorlr::UnsupportedTargaFormat& e) {
        return fail(e.what());
    }
    if (!o.all || !decoded.palette) {
        writePicture(decoded.pictures[0], out, png);
        return 0;
    }
    return writeAll(decoded.pictures, out, dot, png);
}

}  // namespace

void addConvertCommand(CommandLine& line) {
    auto o = std::make_shared<ConvertOptions>();
    CLI::App* cmd = line.add({"convert", "qar convert ARCHIVE NAME OUT [--all]",
                              "a .kmg or .tga entry decoded to OUT (.bmp or .png)", ""},
                             [o] { return runConvert(*o); });
    cmd->add_option("ARCHIVE", o->archive)->required();
    cmd->add_option("NAME", o->name)->required();
    cmd->add_option("OUT", o->out)->required();
    cmd->add_flag("--all", o->all);
}

}  // namespace qar
