#include "edit/Replacement.h"

#include "platform/Errors.h"
#include "viewers/encoders/PictureUpdate.h"

namespace vorlr {

std::optional<std::vector<uint8_t>> ReplacePictureOf(ByteSource& entry, const std::vector<uint8_t>& model,
                                                     EntryKind kind, PictureReplacement replacement) {
    EntryPictures pictures = DecodePicturesOf(entry, kind);
    const std::optional<size_t> at = replacement.at ? replacement.at(pictures.pictures.size()) : size_t{0};
    if (!at) return std::nullopt;
    if (replacement.sameSize && *at < pictures.pictures.size()) {
        const Bitmap24& was = pictures.pictures[*at];
        const Bitmap24& now = replacement.picture;
        if (now.width() != was.width() || now.height() != was.height())
            throw Error("the picture is " + std::to_string(now.width()) + " x " +
                        std::to_string(now.height()) + " pixels, the entry's " +
                        std::to_string(was.width()) + " x " + std::to_string(was.height()));
    }
    return ReplacePicture(std::move(pictures), model, kind, std::move(replacement.picture), *at);
}

}  // namespace vorlr
