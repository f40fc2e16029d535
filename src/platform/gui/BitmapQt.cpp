#include "platform/gui/BitmapQt.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include "platform/Errors.h"
#include "platform/RuntimeFile.h"

namespace vorlr {

Bitmap24 bitmapFromQImage(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    Bitmap24 out(rgb.width(), rgb.height());
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* s = rgb.constScanLine(y);
        uint8_t* d = out.row(y);
        for (int x = 0; x < rgb.width(); ++x) {
            d[x * 3 + 0] = s[x * 3 + 2];
            d[x * 3 + 1] = s[x * 3 + 1];
            d[x * 3 + 2] = s[x * 3 + 0];
        }
    }
    return out;
}

QImage bitmapToQImage(const Bitmap24& picture) {
    QImage img(picture.width(), picture.height(), QImage::Format_RGB888);
    for (int y = 0; y < picture.height(); ++y) {
        const uint8_t* s = picture.row(y);
        uchar* d = img.scanLine(y);
        for (int x = 0; x < picture.width(); ++x) {
            d[x * 3 + 0] = s[x * 3 + 2];
            d[x * 3 + 1] = s[x * 3 + 1];
            d[x * 3 + 2] = s[x * 3 + 0];
        }
    }
    return img;
}

Bitmap24 loadBitmapFile(const std::string& path) {
    RuntimeFile file;
    file.openExisting(path, RuntimeFile::Access::ReadOnly);
    const int64_t size = file.size();
    if (size < 2 || size > (int64_t{1} << 31)) throw Error("Bitmap image is not valid");
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    file.readExact(bytes.data(), size);
    if (bytes[0] != 'B' || bytes[1] != 'M') throw Error("Bitmap image is not valid");
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    QImage image;
    if (!reader.read(&image) || image.isNull()) throw Error("Bitmap image is not valid");
    return bitmapFromQImage(image);
}

}  // namespace vorlr
