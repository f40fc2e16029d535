#include "archive/DirectoryLoader.h"

#include <string_view>

#include "archive/Container.h"
#include "platform/Errors.h"
#include "platform/LittleEndian.h"

namespace vorlr {

namespace {

constexpr int32_t kRecordsPerChunk = 50;
constexpr int64_t kChunkBytes = kRecordsPerChunk * kRecordSize;  // 14000
static_assert(kChunkBytes <= static_cast<int64_t>(kWorkBufferSize));
constexpr int32_t kPrefetchDistance = 4;

std::string_view DirectoryPart(std::string_view path) {
    const auto slash = path.rfind('\\');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

bool SplitFirst(std::string_view& path, std::string_view& segment) {
    const auto slash = path.find('\\');
    if (slash == std::string_view::npos) return false;
    segment = path.substr(0, slash);
    path = path.substr(slash + 1, kNameBytes);
    return true;
}

// Reads the directory into the tree; the loading panel is up while this runs.
void ReadEntries(const DirectoryLoad& load, ArchiveReader& reader, FolderTree& tree,
                 LoadObserver& observer, int32_t count, int64_t fieldPosition) {
    uint8_t* const records = load.WorkBuffer.data();
    std::string
        nameBuffer;  // the entry's name, copied out of WorkBuffer (which event handlers share)
    nameBuffer.reserve(kNameBytes);
    TreeBuilder builder(tree);
    int64_t chunkOffset = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (i % kRecordsPerChunk == 0) {
            chunkOffset = 0;
            // A short read at the end of the file is no error: records past it keep whatever
            // the buffer held before.
            reader.readCounted(records, kChunkBytes);
            observer.dispatchEvents();
        } else {
            chunkOffset += kRecordSize;
        }
        // Looking up a new text mostly waits for memory: start that a few entries ahead.
        if (const int32_t ahead = i % kRecordsPerChunk + kPrefetchDistance;
            ahead < kRecordsPerChunk && i + kPrefetchDistance < count) {
            const std::string_view later =
                RecordNameView(records + int64_t{ahead} * kRecordSize);
            const auto slash = later.rfind('\\');
            tree.prefetchText(slash == std::string_view::npos ? later : later.substr(slash + 1));
        }
        const uint8_t* const record = records + chunkOffset;
        nameBuffer.assign(RecordNameView(record));
        load.archive.addEntry(record);
        // Positions are 32-bit in the table, as everywhere in the archive.
        load.EntryOffsetTable[static_cast<size_t>(i)] = static_cast<int32_t>(fieldPosition);
        fieldPosition += kRecordSize;
        builder.add(nameBuffer, i, &observer);
        if (observer.stopRequested()) break;
        observer.progress(i);
    }
}

}  // namespace

void TreeBuilder::resumeAfter(std::string_view name, NodeId fileNode) {
    previousDirectory_.assign(DirectoryPart(name));
    parent_ = fileNode == kNoNode ? kNoNode : tree_.parent(fileNode);
}

NodeId TreeBuilder::add(std::string_view name, int32_t entryIndex, LoadObserver* observer) {
    const std::string_view directory = DirectoryPart(name);
    if (directory == previousDirectory_) {
        name = name.substr(previousDirectory_.size(), kNameBytes);
    } else {
        previousDirectory_.assign(directory);
        NodeId searchNode = tree_.first();
        parent_ = kNoNode;
        std::string_view segment;
        while (SplitFirst(name, segment)) {
            NodeId found = tree_.findFrom(searchNode, segment);
            if (found == kNoNode) {
                found = tree_.addChild(parent_, std::string(segment), -1);
                if (observer) observer->dispatchEvents();
            }
            parent_ = found;
            searchNode = found;
        }
    }
    return tree_.addChild(parent_, std::string(name), entryIndex);
}

std::string ExtractDirectoryPart(const std::string& path) {
    return std::string(DirectoryPart(path));
}

bool SplitFirstSegment(std::string& path, std::string& segment) {
    std::string_view rest = path, first;
    if (!SplitFirst(rest, first)) return false;
    segment.assign(first);
    path = std::string(rest);
    return true;
}

void LoadDirectory(const std::string& path, const DirectoryLoad& load, FolderTree& tree,
                   LoadObserver& observer) {
    Archive& archive = load.archive;
    archive.close();
    archive.open(path);
    ArchiveReader reader(archive);
    uint8_t bytes[4];
    reader.seek(kCountOffset);
    reader.readExact(bytes, 4);
    const int32_t count = leI32(bytes);
    // 64-bit: a count too large for the file gives a negative start, which the seek refuses
    // before anything is allocated for the entries.
    reader.seek(archive.size() - int64_t{count} * kRecordSize);
    const int64_t fieldPosition = reader.position() + kOffsetField;
    if (count < 0) throw Error("Range check error");
    load.EntryOffsetTable.resize(static_cast<size_t>(count));
    archive.reserveEntries(static_cast<size_t>(count));

    observer.loadingStarted(count);
    try {
        ReadEntries(load, reader, tree, observer, count, fieldPosition);
    } catch (...) {
        observer.loadingFinished();
        throw;
    }
    observer.loadingFinished();
}

}  // namespace vorlr
