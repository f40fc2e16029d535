// Writes the demo archive and the list file naming it:  make_demo OUTPUT_DIR
#include <cstdio>
#include <string>

#include "lib/DemoArchive.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_demo OUTPUT_DIR\n");
        return 2;
    }
    try {
        const std::string path = vorlr::samples::writeDemo(argv[1]);
        std::printf("%s\n", path.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_demo: %s\n", e.what());
        return 1;
    }
    return 0;
}
