// Fixtures for bench/compare_layers.sh, written to the folder given: a base of 970,000 empty
// entries in a three-level tree (base.qar) and three patches of 10,000 each (patch1.qar ...):
// half of each patch replaces names of the base spread over it (half of those replaced by every
// patch), half are new names. A million names in all.
#include <cstdio>
#include <string>
#include <vector>

#include "lib/BigArchives.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: layers_fixtures DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const auto base = vorlr::samples::bigArchiveNames(970000, false);
    vorlr::samples::writeBigArchive(dir + "/base.qar", base);
    for (int p = 1; p <= 3; ++p) {
        std::vector<std::string> names;
        for (int i = 0; i < 5000; ++i) {
            // Even ones the same in every patch (a name hidden three times), odd ones its own.
            const size_t shift = i % 2 ? static_cast<size_t>(p) * 61 : 0;
            names.push_back(base[(static_cast<size_t>(i) * 194 + shift) % base.size()]);
            names.push_back("PATCH" + std::to_string(p) + "\\NEW" + std::to_string(i / 100) + "\\FILE" +
                            std::to_string(i) + ".DAT");
        }
        vorlr::samples::writeBigArchive(dir + "/patch" + std::to_string(p) + ".qar", names);
    }
    return 0;
}
