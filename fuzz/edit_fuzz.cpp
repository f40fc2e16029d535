// Random small archives (gaps, alignment, unread header and record bytes) edited at random
// through the archive writer: replacing (sometimes with the same bytes), removing, renaming and
// adding entries. The comparison of the two archives must report exactly those edits: M for
// changed data only, - and + (or R pairs of equal content) for removed, renamed and added
// entries, never H or X. Inputs starting with an odd byte are also compared as archives of
// their own, raw, where only a clean Error is allowed.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "archive/ArchiveDiff.h"
#include "archive/ArchiveWriter.h"
#include "archive/Container.h"
#include "lib/LayoutArchive.h"
#include "lib/QarBuilder.h"
#include "platform/Errors.h"

using namespace vorlr;
using vorlr::samples::LayoutArchive;
using vorlr::samples::LayoutEntry;

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    size_t below(size_t n) { return n == 0 ? 0 : byte() % n; }
    std::vector<uint8_t> bytes(size_t max) {
        std::vector<uint8_t> out(below(max + 1));
        for (auto& b : out) b = byte();
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_, at_ = 0;
};

// Files of the run's own in a memory-backed folder where there is one (the writer flushes every
// archive), removed after each input.
std::string scratch(const char* what) {
    static const std::string prefix = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                      "/edit-fuzz-" + std::to_string(::getpid()) + "-";
    return prefix + what;
}

struct Scratch {
    ~Scratch() {
        for (const char* f : {"raw.qar", "old.qar", "new.qar"}) ::unlink(scratch(f).c_str());
    }
};

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "edit_fuzz: %s\n", what);
        std::abort();
    }
}

ArchiveFingerprint fingerprintOf(const std::string& path) {
    Archive archive;
    archive.open(path);
    ReadDirectory(archive);
    return FingerprintArchive(archive);
}

void rawArchive(const uint8_t* data, size_t size) {
    const std::string path = scratch("raw.qar");
    vorlr::samples::writeFile(path, std::vector<uint8_t>(data, data + size));
    try {
        const ArchiveFingerprint f = fingerprintOf(path);
        (void)DiffFingerprints(f, f);
    } catch (const Error&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Scratch cleanup;
    if (size > 0 && (data[0] & 1)) rawArchive(data + 1, size - 1);
    Input in(data, size);
    in.byte();

    LayoutArchive layout;
    layout.header.resize(512);
    if (in.byte() & 1)
        for (size_t i = 0; i < 16; ++i) layout.header[in.below(512)] = in.byte();
    static const int64_t alignments[] = {0, 0, 4, 16, 512};
    layout.alignment = alignments[in.below(5)];
    const size_t count = 1 + in.below(6);
    for (size_t i = 0; i < count; ++i) {
        LayoutEntry e;
        e.name = (in.byte() & 1 ? "DIR\\E" : "E") + std::to_string(i);
        e.data = in.bytes(40);
        e.gapBefore = static_cast<int64_t>(in.below(4) == 0 ? in.below(50) : 0);
        if (in.byte() & 1) e.nameTail = in.bytes(8);
        if (in.byte() & 1) e.trailing[in.below(16)] = in.byte();
        layout.entries.push_back(std::move(e));
    }
    const std::string oldPath = scratch("old.qar"), newPath = scratch("new.qar");
    vorlr::samples::writeFile(oldPath, vorlr::samples::buildLayout(layout));

    // The edits, and what the comparison must say about them.
    ArchiveEdit edit;
    std::set<std::string> modified, gone, come;
    std::multiset<std::vector<uint8_t>> goneData, comeData;
    for (size_t i = 0; i < count; ++i) {
        const LayoutEntry& e = layout.entries[i];
        switch (in.below(5)) {
        case 0: break;
        case 1: {
            NewData d;
            d.bytes = in.byte() & 1 ? e.data : in.bytes(40);
            if (d.bytes != e.data) modified.insert(e.name);
            edit.replace[i] = std::move(d);
            break;
        }
        case 2:
            edit.remove.insert(i);
            gone.insert(e.name);
            goneData.insert(e.data);
            break;
        case 3:
            edit.rename[i] = "R" + std::to_string(i);
            gone.insert(e.name);
            goneData.insert(e.data);
            come.insert(edit.rename[i]);
            comeData.insert(e.data);
            break;
        default: break;
        }
    }
    for (size_t k = 0, n = in.below(3); k < n; ++k) {
        NewData d;
        d.bytes = in.bytes(40);
        const std::string name = "NEW\\A" + std::to_string(k);
        come.insert(name);
        comeData.insert(d.bytes);
        edit.add.emplace_back(name, std::move(d));
    }

    Archive source;
    source.open(oldPath);
    ReadDirectory(source);
    WriteTarget target;
    target.path = newPath;
    try {
        WriteEditedArchive(source, edit, target);
    } catch (const Error&) {
        check(edit.remove.size() == count && edit.add.empty(), "the writer refused a possible edit");
        return 0;
    }

    const auto lines = DiffFingerprints(fingerprintOf(oldPath), fingerprintOf(newPath));
    std::set<std::string> seenModified, seenGone, seenCome;
    size_t renames = 0;
    for (const DiffLine& l : lines) {
        switch (l.kind) {
        case DiffLine::Kind::Header: check(false, "H after an edit"); break;
        case DiffLine::Kind::Unread: check(false, "X after an edit"); break;
        case DiffLine::Kind::Modified: check(seenModified.insert(l.name).second, "M twice"); break;
        case DiffLine::Kind::Removed: check(seenGone.insert(l.name).second, "- twice"); break;
        case DiffLine::Kind::Added: check(seenCome.insert(l.name).second, "+ twice"); break;
        case DiffLine::Kind::Renamed:
            check(seenGone.insert(l.name).second && seenCome.insert(l.newName).second, "R twice");
            ++renames;
            break;
        }
    }
    check(seenModified == modified, "M lines differ from the replaced entries");
    check(seenGone == gone, "- and R lines differ from the removed and renamed entries");
    check(seenCome == come, "+ and R lines differ from the added and renamed entries");
    // Each content pairs as often as it is both gone and come.
    size_t pairs = 0;
    for (auto it = goneData.begin(); it != goneData.end(); it = goneData.upper_bound(*it))
        pairs += std::min(goneData.count(*it), comeData.count(*it));
    check(renames == pairs, "R lines differ from the pairs of equal content");
    return 0;
}
