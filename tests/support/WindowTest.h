#pragma once
// Base for the main-window tests: a fresh current folder (the window keeps its list file and
// scratch files there) and every dialog recorded, in place before any window is made and
// taken down after it.
#include <gtest/gtest.h>

#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

namespace vorlr::testing {

class WindowTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCwd cwd{dir.path()};
    RecordingDialogs dialogs;
};

}  // namespace vorlr::testing
