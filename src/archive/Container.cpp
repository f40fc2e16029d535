#include "archive/Container.h"

#include <algorithm>
#include <cstring>

#include "platform/Errors.h"
#include "platform/LittleEndian.h"

namespace vorlr {

namespace {

// Directory records read per call when the whole directory is wanted.
constexpr int64_t kRecordsPerRead = 4096;

// Walks the directory records of a file in reads of kRecordsPerRead records.
template <typename Visit>
void forEachRecord(ByteSource& file, int64_t directoryOffset, int32_t count, Visit&& visit) {
    std::vector<uint8_t> chunk(
        static_cast<size_t>(std::min<int64_t>(count, kRecordsPerRead) * kRecordSize));
    file.seek(directoryOffset);
    for (int64_t done = 0; done < count;) {
        const int64_t n = std::min<int64_t>(count - done, kRecordsPerRead);
        file.readExact(chunk.data(), n * kRecordSize);
        for (int64_t k = 0; k < n; ++k)
            visit(static_cast<int32_t>(done + k), chunk.data() + k * kRecordSize);
        done += n;
    }
}

}  // namespace

bool CountsAreValid(int32_t firstCount, int32_t secondCount, int64_t fileSize) {
    if (firstCount != secondCount || firstCount < 1) return false;
    // The product wraps as a 32-bit signed value, and the comparison is signed.
    const auto product = static_cast<int32_t>(static_cast<uint32_t>(firstCount) * static_cast<uint32_t>(kRecordSize));
    return fileSize >= product;
}

ArchiveFigures ReadArchiveFigures(ByteSource& file) {
    ArchiveFigures f;
    uint8_t bytes[4];
    file.seek(kCountOffset);
    file.readExact(bytes, 4);
    f.firstCount = leI32(bytes);
    file.readExact(bytes, 4);  // the second count follows at 516
    f.secondCount = leI32(bytes);
    f.fileSize = file.size();
    f.directoryOffset = f.fileSize - int64_t{f.firstCount} * kRecordSize;
    f.valid = CountsAreValid(f.firstCount, f.secondCount, f.fileSize);
    return f;
}

bool ValidateArchive(const std::string& path) {
    RuntimeFile file;
    file.openExisting(path, RuntimeFile::Access::ReadOnly);
    const ArchiveFigures figures = ReadArchiveFigures(file);
    file.close();
    return figures.valid;
}

std::unique_ptr<Archive> OpenValidArchive(const std::string& path) {
    auto archive = std::make_unique<Archive>();
    archive->open(path);
    ArchiveReader reader(*archive);
    if (!ReadArchiveFigures(reader).valid) throw Error("Not a valid vorlund packed-file!");
    ReadDirectory(*archive);
    return archive;
}

std::string_view RecordNameView(const uint8_t* record) {
    const void* zero = std::memchr(record, 0, kNameBytes);
    if (!zero) return {};
    return {reinterpret_cast<const char*>(record),
            static_cast<size_t>(static_cast<const uint8_t*>(zero) - record)};
}

std::string RecordName(const uint8_t* record) { return std::string(RecordNameView(record)); }

bool RecordNameTerminated(const uint8_t* record) {
    return std::memchr(record, 0, kNameBytes) != nullptr;
}

ArchiveFigures ReadDirectory(Archive& archive) {
    ArchiveReader reader(archive);
    const ArchiveFigures figures = ReadArchiveFigures(reader);
    if (figures.firstCount < 1) throw Error("entry count is not positive");
    if (figures.directoryOffset < 0) throw Error("directory lies outside the file");
    archive.clearEntries();
    archive.reserveEntries(static_cast<size_t>(figures.firstCount));
    forEachRecord(reader, figures.directoryOffset, figures.firstCount,
                  [&](int32_t, const uint8_t* record) { archive.addEntry(record); });
    return figures;
}

std::vector<std::string> ArchiveProblems(ByteSource& file) {
    const ArchiveFigures f = ReadArchiveFigures(file);
    std::vector<std::string> problems;
    // Positions are signed 32-bit numbers: a reader cannot reach what lies past them.
    if (f.fileSize > kMaxField)
        problems.push_back("larger than the format's limit: " + std::to_string(f.fileSize) +
                           " bytes, the limit is " + std::to_string(kMaxField));
    if (f.firstCount != f.secondCount)
        problems.push_back("counts differ: " + std::to_string(f.firstCount) + " at offset 512, " +
                           std::to_string(f.secondCount) + " at offset 516");
    if (f.firstCount < 1) {
        problems.push_back("count not positive: " + std::to_string(f.firstCount));
        return problems;
    }
    const int64_t dir = f.directoryOffset;
    const std::string range = "520.." + std::to_string(dir);
    if (dir < 0) {
        problems.push_back("directory outside the file: " + std::to_string(f.firstCount) +
                           " records of 280 bytes need " +
                           std::to_string(int64_t{f.firstCount} * kRecordSize) +
                           " bytes, the file has " + std::to_string(f.fileSize));
        return problems;
    }
    if (dir < kDataStart)
        problems.push_back("directory overlaps the counts: it starts at " + std::to_string(dir));
    forEachRecord(file, dir, f.firstCount, [&](int32_t i, const uint8_t* record) {
        const std::string entry = "entry " + std::to_string(i);
        const int64_t offset = leI32(record + kOffsetField);
        const int64_t size = leI32(record + kSizeField);
        if (offset < kDataStart || size < 0 || offset + size > dir)
            problems.push_back(entry + ": data outside " + range + " (offset " +
                               std::to_string(offset) + ", size " + std::to_string(size) + ")");
        if (!RecordNameTerminated(record))
            problems.push_back(entry + ": name without a zero byte in its first 200 bytes");
    });
    return problems;
}

}  // namespace vorlr
