#pragma once
#include <string>
#include <vector>

#include "lib/QarBuilder.h"

namespace vorlr::samples {

// The demo archive's entries, all generated in code.
std::vector<QarEntry> demoEntries();
// Writes DIR/demo.qar and DIR/VORLR.LST naming it (full path); returns the archive's path.
std::string writeDemo(const std::string& dir);

}  // namespace vorlr::samples
