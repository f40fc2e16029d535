// Random archives (odd offsets, overlaps, data outside the data area or past the end, unread
// bytes everywhere) with random edits: the archive written must hold the first 512 bytes, every
// kept record's unread bytes and every kept entry's data as they were, the new data where its
// record says, the alignment of the original; an empty edit must give back the same bytes. A
// refused edit must be a clean Error.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "archive/ArchiveWriter.h"
#include "archive/Container.h"
#include "lib/QarBuilder.h"
#include "platform/Errors.h"
#include "platform/LittleEndian.h"

using namespace vorlr;

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

// A folder of this process's own in memory where there is one (flushing is cheap there),
// removed at exit.
const std::string& workDir() {
    static const std::string* dir = [] {
        const std::string base = std::filesystem::is_directory("/dev/shm")
                                     ? std::string("/dev/shm")
                                     : std::filesystem::temp_directory_path().string();
        auto* d = new std::string(base + "/writer_fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(*d);
        std::atexit([] { std::filesystem::remove_all(workDir()); });
        return d;
    }();
    return *dir;
}

std::string randomName(FuzzedDataProvider& p, size_t max) {
    std::string s = p.ConsumeRandomLengthString(max);
    for (char& c : s)
        if (c == 0) c = 'z';
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider p(data, size);
    const size_t areaLen = p.ConsumeIntegralInRange<size_t>(0, 3000);
    const int count = p.ConsumeIntegralInRange<int>(1, 8);
    std::vector<uint8_t> file(kDataStart + areaLen);
    for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 31 + 7);
    const int alignBits = p.ConsumeIntegralInRange<int>(0, 6);
    for (int r = 0; r < count; ++r) {
        uint8_t rec[280];
        for (size_t i = 0; i < 280; ++i) rec[i] = static_cast<uint8_t>(r * 17 + i * 3);
        const std::string name = randomName(p, 12);
        std::memcpy(rec, name.data(), name.size());
        rec[name.size()] = 0;
        int32_t offset, len;
        if (p.ConsumeBool()) {
            offset = static_cast<int32_t>(kDataStart + p.ConsumeIntegralInRange<size_t>(0, areaLen));
            offset &= ~((1 << alignBits) - 1);
            len = p.ConsumeIntegralInRange<int32_t>(-2, static_cast<int32_t>(areaLen) + 20);
        } else {
            offset = p.ConsumeIntegral<int32_t>();
            len = p.ConsumeIntegral<int32_t>();
        }
        putLe32(rec + 256, static_cast<uint32_t>(offset));
        putLe32(rec + 260, static_cast<uint32_t>(len));
        file.insert(file.end(), rec, rec + 280);
    }
    putLe32(file.data() + 512, static_cast<uint32_t>(count));
    putLe32(file.data() + 516, static_cast<uint32_t>(p.ConsumeBool() ? count : count + 1));

    ArchiveEdit edit;
    for (int i = 0; i < count && p.remaining_bytes() > 0; ++i) {
        switch (p.ConsumeIntegralInRange<int>(0, 4)) {
        case 1: edit.remove.insert(static_cast<size_t>(i)); break;
        case 2: edit.replace[static_cast<size_t>(i)].bytes = p.ConsumeBytes<uint8_t>(p.ConsumeIntegralInRange<size_t>(0, 40)); break;
        case 3: edit.rename[static_cast<size_t>(i)] = randomName(p, 10); break;
        default: break;
        }
    }
    for (int a = p.ConsumeIntegralInRange<int>(0, 2); a > 0; --a)
        edit.add.push_back({randomName(p, 10), NewData{{}, p.ConsumeBytes<uint8_t>(20)}});

    const std::string src = workDir() + "/src.qar", out = workDir() + "/out.qar";
    samples::writeFile(src, file);
    Archive archive;
    archive.open(src);
    try {
        ReadDirectory(archive);
    } catch (const Error&) {
        return 0;
    }
    WriteTarget target;
    target.path = out;
    try {
        WriteEditedArchive(archive, edit, target);
    } catch (const Error&) {
        return 0;  // refused before writing, by the checks
    }
    const std::vector<uint8_t> o = samples::readFile(out);
    if (edit.empty()) require(o == file);

    const int64_t dirStart = static_cast<int64_t>(file.size()) - int64_t{count} * kRecordSize;
    const auto inArea = [&](int64_t off) { return off >= kDataStart && off <= dirStart; };
    int64_t bits = 0;
    for (int i = 0; i < count; ++i) {
        const int32_t off = leI32(file.data() + dirStart + i * kRecordSize + kOffsetField);
        if (inArea(off)) bits |= off;
    }
    const int64_t lowest = std::min<int64_t>(bits & -bits, 4096);
    const int64_t alignment = lowest >= 4 ? lowest : 1;

    require(std::equal(o.begin(), o.begin() + 512, file.begin()));
    const int32_t newCount = leI32(o.data() + kCountOffset);
    require(newCount == count - static_cast<int>(edit.remove.size()) + static_cast<int>(edit.add.size()));
    const int64_t outDir = static_cast<int64_t>(o.size()) - int64_t{newCount} * kRecordSize;
    const auto dataAt = [&](int64_t off, int64_t len) {
        return std::vector<uint8_t>(o.begin() + off, o.begin() + off + len);
    };
    int j = 0;
    for (int i = 0; i < count; ++i) {
        if (edit.remove.count(static_cast<size_t>(i))) continue;
        const uint8_t* was = file.data() + dirStart + i * kRecordSize;
        const uint8_t* now = o.data() + outDir + j++ * kRecordSize;
        require(std::memcmp(was + kTrailingField, now + kTrailingField, kTrailingBytes) == 0);
        const auto rn = edit.rename.find(static_cast<size_t>(i));
        if (rn == edit.rename.end()) require(std::memcmp(was, now, kNameField) == 0);
        else require(reinterpret_cast<const char*>(now) == rn->second);
        const int64_t off = leI32(was + kOffsetField), len = leI32(was + kSizeField);
        const int64_t newOff = leI32(now + kOffsetField), newLen = leI32(now + kSizeField);
        if (const auto rp = edit.replace.find(static_cast<size_t>(i)); rp != edit.replace.end()) {
            require(newLen == static_cast<int64_t>(rp->second.bytes.size()));
            require(newOff + newLen <= outDir && dataAt(newOff, newLen) == rp->second.bytes);
            require(newOff % alignment == 0);
            continue;
        }
        require(newLen == len);
        if (!inArea(off)) {
            require(newOff == off);
            continue;
        }
        const int64_t kept = std::min(off + std::max<int64_t>(len, 0), dirStart) - off;
        require(newOff % alignment == 0 && newOff + kept <= outDir);
        require(dataAt(newOff, kept) ==
                std::vector<uint8_t>(file.begin() + off, file.begin() + off + kept));
    }
    for (const auto& [name, d] : edit.add) {
        const uint8_t* now = o.data() + outDir + j++ * kRecordSize;
        require(reinterpret_cast<const char*>(now) == name);
        const int64_t newOff = leI32(now + kOffsetField), newLen = leI32(now + kSizeField);
        require(newOff % alignment == 0 && dataAt(newOff, newLen) == d.bytes);
    }
    return 0;
}
