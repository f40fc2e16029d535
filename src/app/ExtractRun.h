#pragma once
// "Extract...": the chosen entries written under a folder with a progress dialog that can
// cancel between entries, then a summary in the information dialog; the window is busy
// extracting until the summary is closed.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "app/WindowWork.h"
#include "archive/Archive.h"
#include "platform/gui/Dialogs.h"

class QProgressDialog;
class QWidget;

namespace vorlr {

// Writes the entries (indexes into archive) under the target's folder, pictures as PNG files
// when the target says so, and shows the summary. File errors of the run itself ("Disk full",
// a folder that cannot be made) raise; problems of single entries are counted in the summary.
// afterDispatch runs after each dispatch of pending events.
void RunExtraction(QWidget* parent, WindowWork& work, const Archive& archive,
                   const std::vector<size_t>& entries, const ExtractTarget& target,
                   const std::function<void(QProgressDialog&)>& afterDispatch);

// The same for entries of several archives (the winners of stacked ones), archive by archive,
// in one run with one summary.
struct ExtractGroup {
    const Archive* archive;
    std::vector<size_t> entries;
    std::vector<std::string> names;  // written under these (one per entry) when not empty
};
void RunExtraction(QWidget* parent, WindowWork& work, const std::vector<ExtractGroup>& groups,
                   const ExtractTarget& target,
                   const std::function<void(QProgressDialog&)>& afterDispatch);

}  // namespace vorlr
