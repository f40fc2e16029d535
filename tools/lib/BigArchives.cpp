#include "lib/BigArchives.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

#include "lib/ImageSamples.h"
#include "platform/LittleEndian.h"

namespace vorlr::samples {

std::vector<std::string> bigArchiveNames(int32_t entries, bool shuffled, uint32_t seed) {
    if (entries <= 0 || entries % 10000 != 0)
        throw std::invalid_argument(
            "bigArchiveNames: entries must be a positive multiple of 10000");
    const int32_t third =
        entries / 10000;  // folders of the third level below each second-level one
    static const char* const kTop[10] = {"DATA",   "MAPS",  "SOUND",     "MUSIC",  "TEXT",
                                         "IMAGES", "ITEMS", "CREATURES", "SPELLS", "SCRIPTS"};
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(entries));
    char buf[96];
    for (int a = 0; a < 10; ++a)
        for (int b = 0; b < 100; ++b)
            for (int c = 0; c < third; ++c)
                for (int f = 0; f < 10; ++f) {
                    std::snprintf(buf, sizeof buf, "%s\\AREA%02d\\PART%03d\\FILE%d.DAT", kTop[a], b,
                                  c, f);
                    names.emplace_back(buf);
                }
    std::sort(names.begin(), names.end());
    if (shuffled) std::shuffle(names.begin(), names.end(), std::mt19937(seed));
    return names;
}

std::vector<std::string> uniqueArchiveNames(int32_t entries, int32_t folders) {
    if (entries <= 0 || folders < 0 || (folders > 0 && entries % folders != 0))
        throw std::invalid_argument(
            "uniqueArchiveNames: entries must be a positive multiple of folders");
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(entries));
    char buf[64];
    const int32_t perFolder = folders > 0 ? entries / folders : entries;
    for (int32_t i = 0; i < entries; ++i) {
        if (folders > 0)
            std::snprintf(buf, sizeof buf, "DATA\\D%04d\\FILE%07d.TXT", i / perFolder, i);
        else
            std::snprintf(buf, sizeof buf, "FILE%07d.TXT", i);
        names.emplace_back(buf);
    }
    return names;
}

void writeBigArchive(const std::string& path, const std::vector<std::string>& names) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    auto put32 = [](char* p, int32_t v) {
        putLe32(reinterpret_cast<uint8_t*>(p), static_cast<uint32_t>(v));
    };
    std::vector<char> head(520, 0);
    put32(&head[512], static_cast<int32_t>(names.size()));
    put32(&head[516], static_cast<int32_t>(names.size()));
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    constexpr size_t kBatch = 4096;
    std::vector<char> chunk(kBatch * 280);
    for (size_t i = 0; i < names.size();) {
        const size_t n = std::min(kBatch, names.size() - i);
        std::fill(chunk.begin(), chunk.end(), 0);
        for (size_t k = 0; k < n; ++k, ++i) {
            char* record = chunk.data() + k * 280;
            std::memcpy(record, names[i].data(), std::min<size_t>(names[i].size(), 255));
            put32(record + 256, 520);
            put32(record + 260, 0);
        }
        out.write(chunk.data(), static_cast<std::streamsize>(n * 280));
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

void writeSparseEntryArchive(const std::string& path, const std::string& name, int32_t size,
                             const std::vector<ByteMark>& marks) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    std::vector<char> head(520, 0);
    putLe32(reinterpret_cast<uint8_t*>(&head[512]), 1);
    putLe32(reinterpret_cast<uint8_t*>(&head[516]), 1);
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    // Writing past the end leaves a hole: the zero bytes between take no room on disk.
    for (const ByteMark& m : marks) {
        if (m.at < 0 || m.at + static_cast<int64_t>(m.bytes.size()) > size)
            throw std::invalid_argument("writeSparseEntryArchive: a mark outside the entry");
        out.seekp(520 + m.at);
        out.write(reinterpret_cast<const char*>(m.bytes.data()),
                  static_cast<std::streamsize>(m.bytes.size()));
    }
    std::vector<char> record(280, 0);
    std::memcpy(record.data(), name.data(), std::min<size_t>(name.size(), 255));
    putLe32(reinterpret_cast<uint8_t*>(&record[256]), 520);
    putLe32(reinterpret_cast<uint8_t*>(&record[260]), static_cast<uint32_t>(size));
    out.seekp(520 + static_cast<int64_t>(size));
    out.write(record.data(), static_cast<std::streamsize>(record.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<QarEntry> pictureMixEntries(int count) {
    std::vector<QarEntry> entries;
    const int sides[] = {64, 128, 256, 512};
    for (int i = 0; i < count; ++i) {
        const int side = i % 10 == 9 ? 1024 : sides[i % 4];
        const std::string folder = "GFX\\SET" + std::to_string(i % 20) + "\\";
        const std::string n = std::to_string(i);
        switch (i % 4) {
            case 0: entries.push_back({folder + "P" + n + ".KMG", sampleKmg16(side, side), {}, {}, false}); break;
            case 1: entries.push_back({folder + "S" + n + ".KMG", largeMixedKmg(side, side / 2), {}, {}, false}); break;
            case 2: entries.push_back({folder + "T" + n + ".TGA", sampleTga(2, 24, side, side), {}, {}, false}); break;
            default: entries.push_back({folder + "R" + n + ".TGA", sampleTga(10, 32, side, side), {}, {}, false}); break;
        }
    }
    return entries;
}

}  // namespace vorlr::samples
