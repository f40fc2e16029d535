// qar convert: a .kmg or .tga entry decoded as the viewer decodes it, written as BMP or PNG.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/EntryLookup.h"
#include "archive/EntryKind.h"
#include "platform/Bitmap24.h"
#include "platform/PngWriter.h"
#include "platform/Text.h"
#include "viewers/KmgDecoder.h"
#include "viewers/TargaDecoder.h"

namespace qar {
namespace {

// The pictures of a fresh viewer: element 0 is the first view's, empty until decoded.
class PictureList final : public vorlr::KmgTarget {
public:
    std::vector<vorlr::Bitmap24> pictures = std::vector<vorlr::Bitmap24>(1);
    vorlr::Bitmap24& firstPicture() override { return pictures[0]; }
    void setSubImageCount(int count) override { pictures.resize(count > 0 ? count : 1); }
    vorlr::Bitmap24& beginSubImage(int index, vorlr::KmgLayout::Position) override {
        return pictures[index];
    }
    void pictureDone(int) override {}
};

void writePicture(const vorlr::Bitmap24& picture, const std::string& path, bool png) {
    if (!png) {
        picture.saveToFile(path);  // the same bytes the viewer's Save writes
        return;
    }
    if (picture.empty()) throw vorlr::Error("Cannot write " + path + ": the picture is empty");
    vorlr::savePng(picture, path);
}

}  // namespace

int cmdConvert(const Args& args) {
    std::vector<std::string> words;
    bool all = false;
    for (const auto& a : args) {
        if (a == "--all")
            all = true;
        else if (a.size() > 1 && a[0] == '-' && a[1] == '-')
            return usage("convert");
        else
            words.push_back(a);
    }
    if (words.size() != 3) return usage("convert");
    const std::string& out = words[2];
    const size_t slash = out.find_last_of('/');
    const size_t dot = out.find_last_of('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string outExt = hasExt ? vorlr::lowerAZ(out.substr(dot + 1)) : std::string();
    if (outExt != "bmp" && outExt != "png") {
        std::fprintf(stderr, "qar: OUT must end in .bmp or .png\n");
        return usage("convert");
    }
    const bool png = outExt == "png";

    vorlr::Archive archive;
    OpenWithDirectory(archive, words[0]);
    const size_t index = ResolveEntry(archive, words[1]);
    vorlr::ArchiveReader source = archive.entryReader(index);
    const auto state = std::make_unique<vorlr::DecoderState>();  // palette all black, as at start
    const std::string_view node = vorlr::NodeNameOf(archive.entry(index).name);
    const vorlr::EntryKind kind = vorlr::EntryKindOf(vorlr::EntryExtension(node), node);

    if (kind == vorlr::EntryKind::Targa) {
        vorlr::Bitmap24 picture;
        try {
            vorlr::decodeTarga(source, *state, picture);
        } catch (const vorlr::UnsupportedTargaFormat& e) {
            return fail(e.what());
        }
        writePicture(picture, out, png);
        return 0;
    }
    if (kind != vorlr::EntryKind::Kmg) return fail(words[1] + ": not a .kmg or .tga entry");

    PictureList list;
    const vorlr::KmgKind kmgKind = vorlr::decodeKmg(source, *state, list);
    if (!all || kmgKind == vorlr::KmgKind::Rgb16) {
        writePicture(list.pictures[0], out, png);
        return 0;
    }
    const std::string stem = out.substr(0, dot);
    int status = 0;
    for (size_t i = 0; i < list.pictures.size(); ++i) {
        const std::string path = stem + "_" + std::to_string(i) + "." + out.substr(dot + 1);
        if (list.pictures[i].empty()) {
            status = fail("sub-image " + std::to_string(i) + " has no pixels; " + path +
                          " not written");
            continue;
        }
        writePicture(list.pictures[i], path, png);
    }
    return status;
}

}  // namespace qar
