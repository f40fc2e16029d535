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

ArchiveFingerprint FingerprintArchive(const Archive& archive) {
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
    }
    return out;
}

std::vector<DiffLine> DiffFingerprints(const ArchiveFingerprint& oldOne,
                                       const ArchiveFingerprint& newOne) {
    using Kind = DiffLine::Kind;
    std::vector<DiffLine> lines;
    if (oldOne.header != newOne.header) lines.push_back({Kind::Header, {}, {}});

    // The n-th entry of a name in one archive goes with the n-th of that name in the other.
    std::map<std::string_view, std::vector<size_t>> newByName;
    for (size_t j = 0; j < newOne.entries.size(); ++j) newByName[newOne.entries[j].name].push_back(j);
    std::map<std::string_view, size_t> seen;
    constexpr size_t kNone = static_cast<size_t>(-1);
    std::vector<size_t> partner(oldOne.entries.size(), kNone);
    std::vector<bool> newMatched(newOne.entries.size(), false);
    for (size_t i = 0; i < oldOne.entries.size(); ++i) {
        const std::string_view name = oldOne.entries[i].name;
        const size_t nth = seen[name]++;
        const auto it = newByName.find(name);
        if (it != newByName.end() && nth < it->second.size()) {
            partner[i] = it->second[nth];
            newMatched[partner[i]] = true;
        }
    }

    // Unmatched entries of equal content pair up as renames.
    const auto sameContent = [](const EntryFingerprint& a, const EntryFingerprint& b) {
        return a.size == b.size && a.length == b.length && a.content == b.content;
    };
    std::map<std::pair<int64_t, std::pair<uint64_t, uint64_t>>, std::vector<size_t>> addedByContent;
    for (size_t j = newOne.entries.size(); j-- > 0;) {
        if (newMatched[j]) continue;
        const EntryFingerprint& f = newOne.entries[j];
        addedByContent[{f.length, {f.content.low, f.content.high}}].push_back(j);  // last first
    }
    std::vector<bool> newRenamed(newOne.entries.size(), false);

    for (size_t i = 0; i < oldOne.entries.size(); ++i) {
        const EntryFingerprint& a = oldOne.entries[i];
        if (partner[i] == kNone) {
            auto it = addedByContent.find({a.length, {a.content.low, a.content.high}});
            size_t to = kNone;
            if (it != addedByContent.end()) {
                auto& candidates = it->second;
                for (size_t k = candidates.size(); k-- > 0;) {
                    if (sameContent(a, newOne.entries[candidates[k]])) {
                        to = candidates[k];
                        candidates.erase(candidates.begin() + static_cast<ptrdiff_t>(k));
                        break;
                    }
                }
            }
            if (to == kNone) {
                lines.push_back({Kind::Removed, a.name, {}});
            } else {
                newRenamed[to] = true;
                lines.push_back({Kind::Renamed, a.name, newOne.entries[to].name});
            }
            continue;
        }
        const EntryFingerprint& b = newOne.entries[partner[i]];
        if (!sameContent(a, b)) lines.push_back({Kind::Modified, a.name, {}});
        if (a.unread != b.unread) lines.push_back({Kind::Unread, a.name, {}});
    }
    for (size_t j = 0; j < newOne.entries.size(); ++j)
        if (!newMatched[j] && !newRenamed[j]) lines.push_back({Kind::Added, newOne.entries[j].name, {}});
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
