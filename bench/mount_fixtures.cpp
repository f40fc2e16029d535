// Fixtures for bench/compare_mount.sh, written to the folder given: a million empty entries in a
// three-level tree (million.qar; the name of its middle entry goes to standard output), 10,000
// empty entries in one folder (wide.qar, DATA\D0000) and one entry of 512 MB (large.qar, written
// in pieces, never whole in memory).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "lib/BigArchives.h"
#include "platform/LittleEndian.h"

namespace {

void writeLarge(const std::string& path, int64_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> head(520, 0);
    vorlr::putLe32(reinterpret_cast<uint8_t*>(&head[512]), 1);
    vorlr::putLe32(reinterpret_cast<uint8_t*>(&head[516]), 1);
    out.write(head.data(), 520);
    std::vector<char> chunk(1 << 20);
    uint32_t x = 12345;
    for (int64_t done = 0; done < size; done += static_cast<int64_t>(chunk.size())) {
        for (char& c : chunk) c = static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
    std::vector<char> record(280, 0);
    std::strcpy(record.data(), "DATA\\LARGE.BIN");
    vorlr::putLe32(reinterpret_cast<uint8_t*>(&record[256]), 520);
    vorlr::putLe32(reinterpret_cast<uint8_t*>(&record[260]), static_cast<uint32_t>(size));
    out.write(record.data(), 280);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mount_fixtures DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const auto names = vorlr::samples::bigArchiveNames(1000000, false);
    vorlr::samples::writeBigArchive(dir + "/million.qar", names);
    vorlr::samples::writeBigArchive(dir + "/wide.qar", vorlr::samples::uniqueArchiveNames(10000, 1));
    writeLarge(dir + "/large.qar", int64_t{512} << 20);
    std::string middle = names[names.size() / 2];
    for (char& c : middle)
        if (c == '\\') c = '/';
    std::printf("%s\n", middle.c_str());
    return 0;
}
