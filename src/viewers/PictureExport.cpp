#include "viewers/PictureExport.h"

#include <cstring>
#include <memory>
#include <string>

#include "platform/Errors.h"
#include "platform/png/PngWriter.h"
#include "platform/Text.h"
#include "viewers/DecoderState.h"
#include "viewers/KmgDecoder.h"
#include "viewers/PictureBudget.h"
#include "viewers/TargaDecoder.h"

namespace vorlr {

namespace {

// The pictures of a fresh viewer: element 0 is the first view's, empty until decoded.
class PictureList final : public KmgTarget {
public:
    explicit PictureList(std::vector<Bitmap24>& pictures) : pictures_(pictures) {}
    Bitmap24& firstPicture() override { return pictures_[0]; }
    void setSubImageCount(int count) override { pictures_.resize(count > 0 ? size_t(count) : 1); }
    Bitmap24& beginSubImage(int index, KmgLayout::Position) override {
        return pictures_[static_cast<size_t>(index)];
    }
    void pictureDone(int) override {}

private:
    std::vector<Bitmap24>& pictures_;
};

}  // namespace

EntryPictures DecodeEntryPictures(ByteSource& source, EntryKind kind) {
    // As in a viewer just started: the palette all black, and the first view's picture a copy
    // of the 1 x 1 black dot, which an image that decodes nothing leaves as it is.
    const auto state = std::make_unique<DecoderState>();
    state->keepAlpha = true;
    EntryPictures out;
    out.pictures.emplace_back(1, 1);
    std::memset(out.pictures[0].row(0), 0, 3);
    if (kind == EntryKind::Targa) {
        decodeTarga(source, *state, out.pictures[0]);
    } else {
        PictureList list(out.pictures);
        out.palette = decodeKmg(source, *state, list) == KmgKind::Palette;
    }
    return out;
}

std::vector<uint8_t> EncodePicture(const Bitmap24& picture, PictureFormat format) {
    return format == PictureFormat::Png ? encodePng(picture) : picture.toBmp();
}

std::string SubImageSuffix(size_t index, size_t count) {
    return count > 1 ? "_" + std::to_string(index) : std::string();
}

std::optional<size_t> SubImageNumber(std::string_view fileName, std::string* stem) {
    const std::string base = baseNameOf(fileName);
    const size_t underscore = base.find_last_of('_'), dot = base.find_last_of('.');
    if (underscore == std::string::npos || dot == std::string::npos || dot <= underscore + 1 ||
        dot - underscore - 1 > 4 || base.find_first_not_of("0123456789", underscore + 1) != dot)
        return std::nullopt;
    if (stem) *stem = base.substr(0, underscore);
    return std::stoul(base.substr(underscore + 1, dot - underscore - 1));
}

bool IsPictureEntry(const ArchiveEntry& entry) {
    const EntryKind kind = EntryKindOfStored(entry.name);
    return kind == EntryKind::Kmg || kind == EntryKind::Targa;
}

EntryConversion PictureConversion(PictureFormat format, int workers) {
    EntryConversion conversion;
    conversion.workers = workers;
    conversion.applies = IsPictureEntry;
    conversion.convert = [format](const Archive& archive, size_t index) {
        const ArchiveEntry entry = archive.entry(index);
        ArchiveReader reader = archive.entryReader(index);
        BufferedByteSource source(reader);
        const std::string shortfall =
            PictureShortfall(LeastPictureBytes(source, EntryKindOfStored(entry.name)), EntryBytesHeld(archive, entry));
        if (!shortfall.empty()) throw Error("damaged picture: " + shortfall);
        const EntryPictures decoded = DecodeEntryPictures(source, EntryKindOfStored(entry.name));
        const std::string ext = format == PictureFormat::Png ? ".png" : ".bmp";
        const bool numbered = decoded.pictures.size() > 1;
        std::vector<ConvertedFile> files;
        for (size_t i = 0; i < decoded.pictures.size(); ++i) {
            const Bitmap24& picture = decoded.pictures[i];
            if (picture.empty())
                throw Error(numbered ? "sub-image " + std::to_string(i) + " has no pixels"
                                     : std::string("the picture has no pixels"));
            files.push_back({SubImageSuffix(i, decoded.pictures.size()) + ext,
                             EncodePicture(picture, format)});
        }
        return files;
    };
    return conversion;
}

}  // namespace vorlr
