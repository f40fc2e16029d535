// The merged tree of the window's layers (edit/Layers) over layers_fixtures' archives: the time
// from the patch's directory read to the tree built, for one patch and for three; then with
// A-Z case ignored.
//   layers_bench DIR   (DIR: what layers_fixtures wrote)
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "archive/Container.h"
#include "edit/Layers.h"
#include "platform/HugePages.h"

int main(int argc, char** argv) {
    vorlr::StartWithHugePages(argv);  // as the window starts
    if (argc != 2) {
        std::fprintf(stderr, "usage: layers_bench DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const auto base = vorlr::OpenValidArchive(dir + "/base.qar");
    // The first patch as the window adds it (the layers made with it), then the others.
    std::unique_ptr<vorlr::Layers> made;
    for (int p = 1; p <= 3; ++p) {
        const std::string patch = dir + "/patch" + std::to_string(p) + ".qar";
        const auto start = std::chrono::steady_clock::now();
        if (made)
            made->add(patch);
        else
            made = std::make_unique<vorlr::Layers>(*base, patch);
        const vorlr::Layers& layers = *made;
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::printf("patch%d over %zu entries: %zu names, %d nodes, %.0f ms\n", p,
                    static_cast<size_t>(base->entryCount()), layers.view().names().size(),
                    layers.tree().size(), ms);
    }
    // "Ignore case of A-Z" over the same stack: the view and its tree made again, each new
    // folder spelt as its first entry has it.
    const auto start = std::chrono::steady_clock::now();
    made->setIgnoreCase(true);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("case ignored: %zu names, %d nodes, %.0f ms\n", made->view().names().size(),
                made->tree().size(), ms);
    return 0;
}
