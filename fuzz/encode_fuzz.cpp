// Encoders: random pictures through encode then decode come back exactly in the kinds that hold
// them, and any bytes as a model entry encode or fail cleanly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/EntryKind.h"
#include "platform/ByteSource.h"
#include "platform/Errors.h"
#include "viewers/encoders/PictureEncoder.h"
#include "viewers/PictureExport.h"

namespace {

using namespace vorlr;

struct Input {
    const uint8_t* p;
    size_t n;
    uint8_t next() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
};

void check(bool ok) {
    if (!ok) std::abort();
}

// The picture the viewer shows for what was given: transparent pixels black, no alpha.
Bitmap24 shown(Bitmap24 b, bool clearIsBlack) {
    if (clearIsBlack && b.hasAlpha())
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x)
                if (b.alphaRow(y)[x] < 128) std::memset(b.row(y) + 3 * x, 0, 3);
    b.setHasAlpha(false);
    return b;
}

// A picture of colours from a small set (so the palette kinds hold it), with alpha.
Bitmap24 makePicture(Input& in, PictureKind kind) {
    const int w = 1 + in.next() % 160, h = 1 + in.next() % 12;
    uint32_t set[64];
    const int colours = 1 + in.next() % 64;
    for (int i = 0; i < colours; ++i) {
        set[i] = uint32_t(in.next()) << 16 | uint32_t(in.next()) << 8 | in.next();
        if (kind == PictureKind::Rgb16) set[i] &= 0xF8FCF8;
        if (kind == PictureKind::Grey) set[i] = (set[i] & 255) * 0x010101u;
    }
    Bitmap24 b(w, h);
    b.setHasAlpha(in.next() & 1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Runs of one colour, so run-length coding meets every packet length.
            const uint8_t c = in.next();
            const uint32_t rgb = set[(c >> 2) % colours];
            uint8_t* px = b.row(y) + 3 * x;
            px[0] = uint8_t(rgb), px[1] = uint8_t(rgb >> 8), px[2] = uint8_t(rgb >> 16);
            if (b.hasAlpha()) b.alphaRow(y)[x] = (c & 3) == 0 ? uint8_t(c) : 255;
        }
    return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Input in{data + 1, size - 1};
    const uint8_t mode = data[0];
    if (mode & 0x80) {
        // The rest is a model entry's bytes.
        Bitmap24 picture(3, 2);
        picture.setHasAlpha(true);
        picture.alphaRow(1)[2] = 0;
        const std::vector<uint8_t> model(in.p, in.p + in.n);
        try {
            EncodePicturesLike({picture}, mode & 1 ? EntryKind::Targa : EntryKind::Kmg, model,
                               {bool(mode & 2), bool(mode & 4)});
        } catch (const Error&) {
        }
        return 0;
    }
    const PictureKind kind = PictureKind(mode % 8);
    std::vector<Bitmap24> pictures{makePicture(in, kind)};
    if (kind == PictureKind::Palette)
        while (pictures.size() < 3 && (in.next() & 1)) pictures.push_back(makePicture(in, kind));
    const std::vector<uint8_t> bytes = EncodePictures(pictures, kind, {false, bool(mode & 8)});
    MemoryByteSource source(bytes);
    const EntryPictures back =
        DecodeEntryPictures(source, IsKmgKind(kind) ? EntryKind::Kmg : EntryKind::Targa);
    check(back.pictures.size() == pictures.size());
    for (size_t i = 0; i < pictures.size(); ++i)
        check(shown(back.pictures[i], false) == shown(pictures[i], kind == PictureKind::Palette));
    return 0;
}
