#pragma once
// Three archives to stack (layer0.qar at the bottom): overrides at every depth, a name one
// archive holds twice, names apart only in A-Z case, both separators, an unsafe name and a file
// where a folder would go. Every entry's data names its archive and index ("L1#4").
#include <string>
#include <vector>

#include "lib/QarBuilder.h"
#include "support/TempDir.h"

namespace vorlr::testing {

inline const std::vector<std::vector<std::string>> kStackedNames = {
    {"ROOT.TXT", "DATA\\A.TXT", "DATA\\SUB\\DEEP\\X.TXT", "DATA\\KEEP.TXT", "DUP.TXT", "FILE",
     "Mixed\\Case.txt", "..\\EVIL.TXT", "DATA\\SUB\\B.TXT"},
    {"DATA\\A.TXT", "ROOT.TXT", "DATA/SUB/DEEP/X.TXT", "NEW1.TXT", "FILE\\UNDER.TXT", "DUP.TXT",
     "DUP.TXT", "DATA\\SUB\\B.TXT"},
    {"DATA\\SUB\\DEEP\\X.TXT", "mixed\\case.TXT", "NEW2\\Y.TXT", "NEW1.TXT", "data\\keep.txt"},
};

inline std::string stackedContent(size_t layer, size_t index) {
    return "L" + std::to_string(layer) + "#" + std::to_string(index);
}

// The three archives written in dir, bottom first.
inline std::vector<std::string> writeStacked(TempDir& dir) {
    std::vector<std::string> paths;
    for (size_t l = 0; l < kStackedNames.size(); ++l) {
        std::vector<samples::QarEntry> entries;
        for (size_t i = 0; i < kStackedNames[l].size(); ++i)
            entries.push_back({kStackedNames[l][i], samples::bytesOf(stackedContent(l, i)), {}, {}, false});
        samples::QarOptions options;
        options.header.assign(512, static_cast<uint8_t>('B' + l));
        paths.push_back(dir.file("layer" + std::to_string(l) + ".qar"));
        samples::writeFile(paths.back(), samples::buildQar(entries, options));
    }
    return paths;
}

}  // namespace vorlr::testing
