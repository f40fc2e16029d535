#include "viewers/encoders/PictureUpdate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Errors.h"
#include "platform/png/PictureReader.h"
#include "platform/Text.h"
#include "viewers/encoders/PictureEncoder.h"
#include "viewers/PictureExport.h"

namespace vorlr {

namespace {

// A whole file, opened without following a symbolic link.
std::vector<uint8_t> readWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throwFromErrno(errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    std::vector<uint8_t> bytes;
    uint8_t buffer[1 << 16];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwFromErrno(errno);
        }
        if (n == 0) return bytes;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
}

// The bytes extraction writes for an entry.

uint8_t alphaAt(const Bitmap24& p, int x, int y) { return p.hasAlpha() ? p.alphaRow(y)[x] : 255; }

// Same size, same colours, same transparency (no alpha plane: every pixel opaque).
bool samePicture(const Bitmap24& a, const Bitmap24& b) {
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (int y = 0; y < a.height(); ++y) {
        if (std::memcmp(a.row(y), b.row(y), static_cast<size_t>(a.width()) * 3) != 0) return false;
        if (a.hasAlpha() || b.hasAlpha())
            for (int x = 0; x < a.width(); ++x)
                if (alphaAt(a, x, y) != alphaAt(b, x, y)) return false;
    }
    return true;
}

// The sub-image a file's suffix names: "" for the only picture, "_N" for sub-image N of several.
size_t pictureIndexOf(const PictureFileRef& file, size_t count) {
    const std::string stem = file.suffix.substr(0, file.suffix.size() - 4);
    if (stem.empty() && count == 1) return 0;
    if (!stem.empty() && count > 1) {
        const size_t n = std::stoul(stem.substr(1));
        if (n < count) return n;
    }
    throw Error(count == 1 ? "the entry holds one picture, named without a number"
                           : "the entry holds sub-images 0 to " + std::to_string(count - 1));
}

std::optional<std::vector<uint8_t>> judge(const Archive& archive, size_t index,
                                          const std::vector<PictureFileRef>& files) {
    const ArchiveEntry entry = archive.entry(index);
    std::vector<std::vector<uint8_t>> fileBytes;
    for (const PictureFileRef& f : files) fileBytes.push_back(readWhole(f.diskPath));

    // The pictures the files hold against the entry's, decoded as extraction decodes it (on
    // past the recorded size, as the viewer reads). Reading a PNG back costs less than
    // exporting the entry again to compare bytes, and an untouched export reads back as the
    // very pixels it was made from.
    ArchiveReader reader = archive.entryReader(index);
    BufferedByteSource source(reader);
    EntryPictures pictures = DecodeEntryPictures(source, EntryKindOfStored(entry.name));
    const std::vector<uint8_t> model = EntryBytesOf(archive, entry);
    bool same = true;
    for (size_t k = 0; k < files.size(); ++k) {
        Bitmap24 picture = ReadPicture(fileBytes[k], files[k].relativePath);  // errors name the file
        size_t at = 0;
        try {
            at = pictureIndexOf(files[k], pictures.pictures.size());
        } catch (const Error& e) {
            throw Error(files[k].relativePath + ": " + e.what());
        }
        if (samePicture(picture, pictures.pictures[at])) continue;
        same = false;
        pictures.pictures[at] = std::move(picture);
    }
    if (same) return std::nullopt;
    return EncodePicturesLike(pictures.pictures, EntryKindOfStored(entry.name), model);
}

}  // namespace

std::vector<uint8_t> EntryBytesOf(const Archive& archive, const ArchiveEntry& e) {
    if (e.size <= 0 || e.offset < 0) return {};
    const int64_t length = std::clamp<int64_t>(archive.size() - e.offset, 0, e.size);
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    bytes.resize(static_cast<size_t>(std::max<int64_t>(0, archive.readAt(e.offset, bytes.data(), length))));
    return bytes;
}

std::optional<size_t> SubImageNamed(const std::string& fileName, std::string_view stem) {
    std::string named;
    const std::optional<size_t> n = SubImageNumber(fileName, &named);
    if (!n || lowerAZ(named) != lowerAZ(stem)) return std::nullopt;
    const std::string ext = lowerAZ(fileName.substr(fileName.find_last_of('.')));
    if (ext != ".png" && ext != ".bmp") return std::nullopt;
    return n;
}

EntryPictures DecodePicturesOf(ByteSource& source, EntryKind format) {
    BufferedByteSource buffered(source);
    return DecodeEntryPictures(buffered, format);
}

std::optional<std::vector<uint8_t>> ReplacePicture(EntryPictures pictures,
                                                   const std::vector<uint8_t>& model,
                                                   EntryKind format, Bitmap24 picture,
                                                   size_t subImage) {
    if (pictures.pictures.empty()) throw Error("the entry holds no picture");
    if (subImage >= pictures.pictures.size())
        throw Error("the entry holds sub-images 0 to " + std::to_string(pictures.pictures.size() - 1));
    if (samePicture(picture, pictures.pictures[subImage])) return std::nullopt;
    pictures.pictures[subImage] = std::move(picture);
    return EncodePicturesLike(pictures.pictures, format, model);
}

UpdatePictures PictureUpdateSupport(int workers) {
    UpdatePictures support;
    support.applies = IsPictureEntry;
    support.workers = workers;
    support.judge = [](const Archive& archive, size_t index, const std::vector<PictureFileRef>& files) {
        try {
            return judge(archive, index, files);
        } catch (const FileError& e) {
            throw Error(files.front().relativePath + ": " + e.what());
        } catch (const Error& e) {
            const std::string text = e.what();
            for (const PictureFileRef& f : files)
                if (text.rfind(f.relativePath + ":", 0) == 0) throw;
            throw Error(files.front().relativePath + ": " + text);
        }
    };
    return support;
}

}  // namespace vorlr
