#include "viewers/Thumbnail.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "viewers/KmgDecoder.h"
#include "viewers/PictureBudget.h"
#include "viewers/PictureExport.h"

namespace vorlr {

namespace {

struct Placed {
    const Bitmap24* picture;
    int64_t left, top;
};

// Sums of the source pixels that fall into one thumbnail pixel: colours weighted by alpha.
struct Bucket {
    uint64_t blue = 0, green = 0, red = 0, alpha = 0, count = 0;
};

}  // namespace

Bitmap24 MakeThumbnail(ByteSource& source, int64_t held, EntryKind kind, int side) {
    const std::string shortfall = PictureShortfall(LeastPictureBytes(source, kind), held);
    if (!shortfall.empty()) throw Error("damaged picture: " + shortfall);
    const EntryPictures decoded = DecodeEntryPictures(source, kind);

    // The page's layout: sub-images without pixels take no place in it.
    std::vector<Placed> placed;
    KmgLayout layout;
    for (const Bitmap24& p : decoded.pictures) {
        if (p.empty()) continue;
        if (!decoded.palette) {
            placed.push_back({&p, 0, 0});
            break;
        }
        const KmgLayout::Position at = layout.place(p.width(), p.height());
        placed.push_back({&p, at.left, at.top});
    }
    if (placed.empty()) throw Error("the picture has no pixels");
    int64_t left = INT64_MAX, top = INT64_MAX, right = 0, bottom = 0;
    for (const Placed& p : placed) {
        left = std::min(left, p.left);
        top = std::min(top, p.top);
        right = std::max(right, p.left + p.picture->width());
        bottom = std::max(bottom, p.top + p.picture->height());
    }
    const int64_t width = right - left, height = bottom - top;
    const int64_t longer = std::max(width, height);
    const int outW = static_cast<int>(longer <= side ? width : std::max<int64_t>(1, width * side / longer));
    const int outH = static_cast<int>(longer <= side ? height : std::max<int64_t>(1, height * side / longer));

    std::vector<Bucket> buckets(static_cast<size_t>(outW) * static_cast<size_t>(outH));
    std::vector<int> columns;
    for (const Placed& p : placed) {
        const Bitmap24& picture = *p.picture;
        columns.resize(static_cast<size_t>(picture.width()));
        for (int x = 0; x < picture.width(); ++x)
            columns[size_t(x)] = static_cast<int>((p.left - left + x) * outW / width);
        for (int y = 0; y < picture.height(); ++y) {
            const int by = static_cast<int>((p.top - top + y) * outH / height);
            Bucket* line = buckets.data() + static_cast<size_t>(by) * outW;
            const uint8_t* in = picture.row(y);
            const uint8_t* alpha = picture.hasAlpha() ? picture.alphaRow(y) : nullptr;
            for (int x = 0; x < picture.width(); ++x, in += 3) {
                Bucket& b = line[columns[size_t(x)]];
                const unsigned a = alpha ? alpha[x] : 255;
                b.blue += in[0] * a;
                b.green += in[1] * a;
                b.red += in[2] * a;
                b.alpha += a;
                ++b.count;
            }
        }
    }

    Bitmap24 out(outW, outH);
    bool transparent = false;
    for (const Bucket& b : buckets) transparent |= b.count == 0 || b.alpha < 255 * b.count;
    out.setHasAlpha(transparent);
    for (int y = 0; y < outH; ++y) {
        uint8_t* px = out.row(y);
        uint8_t* alpha = transparent ? out.alphaRow(y) : nullptr;
        const Bucket* line = buckets.data() + static_cast<size_t>(y) * outW;
        for (int x = 0; x < outW; ++x, px += 3) {
            const Bucket& b = line[x];
            if (b.alpha == 0) {
                px[0] = px[1] = px[2] = 0;
            } else {
                px[0] = static_cast<uint8_t>(b.blue / b.alpha);
                px[1] = static_cast<uint8_t>(b.green / b.alpha);
                px[2] = static_cast<uint8_t>(b.red / b.alpha);
            }
            if (alpha) alpha[x] = b.count ? static_cast<uint8_t>(b.alpha / b.count) : 0;
        }
    }
    return out;
}

}  // namespace vorlr
