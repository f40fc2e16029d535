#include "archive/ArchiveDiff.h"

#include <fcntl.h>
#include <xxhash.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>

#include "platform/Errors.h"

namespace vorlr {

namespace {

constexpr int64_t kChunk = 128 << 10;  // reads small enough for the hash to find them in cache
constexpr int64_t kHeaderBytes = 512;
constexpr int kNameField = 256;
constexpr int kTrailing = 16;

Digest128 toDigest(XXH128_hash_t h) { return {h.low64, h.high64}; }

struct StateFree {
    void operator()(XXH3_state_t* s) const { XXH3_freeState(s); }
};

// The digest of count bytes from position, as far as the file goes; length gets how many
// there were.
Digest128 digestRange(const Archive& archive, XXH3_state_t* state, uint8_t* buffer, int64_t chunk,
                      int64_t position, int64_t count, int64_t& length) {
    XXH3_128bits_reset(state);
    length = 0;
    while (length < count) {
        const int64_t got = archive.readAt(position + length, buffer, std::min(chunk, count - length));
        if (got <= 0) break;
        XXH3_128bits_update(state, buffer, static_cast<size_t>(got));
        length += got;
    }
    return toDigest(XXH3_128bits_digest(state));
}

Digest128 unreadDigest(const uint8_t* record) {
    const void* zero = std::memchr(record, 0, kNameBytes);
    const int from = zero ? static_cast<int>(static_cast<const uint8_t*>(zero) - record) + 1 : 0;
    uint8_t unread[kNameField + kTrailing];
    const int nameRest = kNameField - from;
    std::memcpy(unread, record + from, static_cast<size_t>(nameRest));
    std::memcpy(unread + nameRest, record + kRecordSize - kTrailing, kTrailing);
    // The length goes in too, so that bytes cannot shift between the two parts unnoticed.
    XXH128_hash_t h = XXH3_128bits_withSeed(unread, static_cast<size_t>(nameRest + kTrailing),
                                            static_cast<XXH64_hash_t>(from));
    return toDigest(h);
}

}  // namespace

ArchiveFingerprint FingerprintArchive(const Archive& archive, const FingerprintWatch& watch) {
    ArchiveFingerprint out;
    out.header.resize(kHeaderBytes);
    out.header.resize(static_cast<size_t>(std::max<int64_t>(0, archive.readAt(0, out.header.data(), kHeaderBytes))));
    (void)::posix_fadvise(archive.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);

    const size_t count = archive.entryCount();
    const int64_t fileSize = archive.size();
    const int64_t directory = fileSize - static_cast<int64_t>(count) * kRecordSize;
    if (directory < 0) throw Error("directory lies outside the file");
    out.entries.resize(count);
    // A small archive gets a small buffer.
    const int64_t chunk = std::clamp<int64_t>(fileSize, kRecordSize, kChunk);
    const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(chunk));
    const size_t perChunk = static_cast<size_t>(chunk / kRecordSize);
    for (size_t i = 0; i < count; i += perChunk) {
        const size_t n = std::min(perChunk, count - i);
        const int64_t want = static_cast<int64_t>(n) * kRecordSize;
        if (archive.readAt(directory + static_cast<int64_t>(i) * kRecordSize, buffer.get(), want) != want)
            throw FileError(kReadBeyondEof);
        for (size_t k = 0; k < n; ++k) {
            const uint8_t* record = buffer.get() + k * kRecordSize;
            const ArchiveEntry e = archive.entry(i + k);
            EntryFingerprint& f = out.entries[i + k];
            f.name = std::string(e.name);
            f.size = e.size;
            f.unread = unreadDigest(record);
        }
    }

    const std::unique_ptr<XXH3_state_t, StateFree> state(XXH3_createState());
    if (!state) throw std::bad_alloc();
    for (size_t i = 0; i < count; ++i) {
        const ArchiveEntry e = archive.entry(i);
        EntryFingerprint& f = out.entries[i];
        const int64_t wanted = e.size > 0 && e.offset >= 0 ? e.size : 0;
        f.content = digestRange(archive, state.get(), buffer.get(), chunk, e.offset, wanted, f.length);
        if ((i & 1023) == 1023) {
            if (watch.done) watch.done->store(i + 1, std::memory_order_relaxed);
            if (watch.stop && watch.stop->load(std::memory_order_relaxed)) throw FingerprintCancelled();
        }
    }
    if (watch.done) watch.done->store(count, std::memory_order_relaxed);
    return out;
}

DiffPairs PairFingerprints(const ArchiveFingerprint& oldOne, const ArchiveFingerprint& newOne) {
    constexpr size_t kNone = DiffPairs::kNone;
    DiffPairs pairs;
    pairs.headerDiffers = oldOne.header != newOne.header;
    pairs.old.resize(oldOne.entries.size());
    pairs.added.assign(newOne.entries.size(), true);

    // The n-th entry of a name in one archive goes with the n-th of that name in the other.
    std::map<std::string_view, std::vector<size_t>> newByName;
    for (size_t j = 0; j < newOne.entries.size(); ++j) newByName[newOne.entries[j].name].push_back(j);
    std::map<std::string_view, size_t> seen;
    for (size_t i = 0; i < oldOne.entries.size(); ++i) {
        const std::string_view name = oldOne.entries[i].name;
        const size_t nth = seen[name]++;
        const auto it = newByName.find(name);
        if (it != newByName.end() && nth < it->second.size()) {
            pairs.old[i].partner = it->second[nth];
            pairs.added[pairs.old[i].partner] = false;
        }
    }

    // Unmatched entries of equal content pair up as renames.
    const auto sameContent = [](const EntryFingerprint& a, const EntryFingerprint& b) {
        return a.size == b.size && a.length == b.length && a.content == b.content;
    };
    std::map<std::pair<int64_t, std::pair<uint64_t, uint64_t>>, std::vector<size_t>> addedByContent;
    for (size_t j = newOne.entries.size(); j-- > 0;) {
        if (!pairs.added[j]) continue;
        const EntryFingerprint& f = newOne.entries[j];
        addedByContent[{f.length, {f.content.low, f.content.high}}].push_back(j);  // last first
    }

    for (size_t i = 0; i < oldOne.entries.size(); ++i) {
        const EntryFingerprint& a = oldOne.entries[i];
        DiffPairs::Old& fate = pairs.old[i];
        if (fate.partner == kNone) {
            auto it = addedByContent.find({a.length, {a.content.low, a.content.high}});
            if (it == addedByContent.end()) continue;
            auto& candidates = it->second;
            for (size_t k = candidates.size(); k-- > 0;) {
                if (sameContent(a, newOne.entries[candidates[k]])) {
                    fate.partner = candidates[k];
                    fate.renamed = true;
                    pairs.added[fate.partner] = false;
                    candidates.erase(candidates.begin() + static_cast<ptrdiff_t>(k));
                    break;
                }
            }
            continue;
        }
        const EntryFingerprint& b = newOne.entries[fate.partner];
        fate.contentDiffers = !sameContent(a, b);
        fate.unreadDiffers = a.unread != b.unread;
    }
    return pairs;
}

std::vector<DiffLine> DiffFingerprints(const ArchiveFingerprint& oldOne,
                                       const ArchiveFingerprint& newOne) {
    using Kind = DiffLine::Kind;
    const DiffPairs pairs = PairFingerprints(oldOne, newOne);
    std::vector<DiffLine> lines;
    if (pairs.headerDiffers) lines.push_back({Kind::Header, {}, {}});
    for (size_t i = 0; i < pairs.old.size(); ++i) {
        const DiffPairs::Old& fate = pairs.old[i];
        const std::string& name = oldOne.entries[i].name;
        if (fate.partner == DiffPairs::kNone) {
            lines.push_back({Kind::Removed, name, {}});
        } else if (fate.renamed) {
            lines.push_back({Kind::Renamed, name, newOne.entries[fate.partner].name});
        } else {
            if (fate.contentDiffers) lines.push_back({Kind::Modified, name, {}});
            if (fate.unreadDiffers) lines.push_back({Kind::Unread, name, {}});
        }
    }
    for (size_t j = 0; j < pairs.added.size(); ++j)
        if (pairs.added[j]) lines.push_back({Kind::Added, newOne.entries[j].name, {}});
    return lines;
}

std::string FormatDiffLine(const DiffLine& line) {
    switch (line.kind) {
    case DiffLine::Kind::Header: return "H";
    case DiffLine::Kind::Removed: return "- " + line.name;
    case DiffLine::Kind::Added: return "+ " + line.name;
    case DiffLine::Kind::Modified: return "M " + line.name;
    case DiffLine::Kind::Renamed: return "R " + line.name + " -> " + line.newName;
    case DiffLine::Kind::Unread: return "X " + line.name;
    }
    return {};
}

}  // namespace vorlr
