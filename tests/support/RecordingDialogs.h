#pragma once
// A dialog seam for tests: records every box the program shows and answers the open-file and
// folder dialogs from scripts (no answer left: cancelled). Installs itself while it lives.
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"

namespace vorlr::testing {

class RecordingDialogs final : public DialogSeam {
public:
    RecordingDialogs() { setDialogs(this); }
    ~RecordingDialogs() override { setDialogs(nullptr); }
    RecordingDialogs(const RecordingDialogs&) = delete;
    RecordingDialogs& operator=(const RecordingDialogs&) = delete;

    void showError(QWidget*, const std::string& title, const std::string& text) override {
        errorTitles.push_back(title);
        errors.push_back(text);
    }
    void showInformation(QWidget*, const std::string& title, const std::string& text) override {
        infoTitles.push_back(title);
        infos.push_back(text);
    }
    std::optional<std::string> getOpenFileName(QWidget*) override {
        ++opened;
        if (duringOpen) duringOpen();
        if (answers.empty()) return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<ExtractTarget> getExtractTarget(QWidget*) override {
        ++folderAsked;
        if (folders.empty()) return std::nullopt;
        auto answer = folders.front();
        folders.pop_front();
        return ExtractTarget{answer, convertPictures};
    }

    std::vector<std::string> errors, infos;            // message texts, in order
    std::vector<std::string> errorTitles, infoTitles;  // their captions
    std::deque<std::optional<std::string>> answers;    // for the open-file dialog
    std::deque<std::string> folders;                   // for the folder dialog
    bool convertPictures = false;                      // its check box
    std::function<void()> duringOpen;                  // runs while the open dialog is up
    int opened = 0;
    int folderAsked = 0;
};

}  // namespace vorlr::testing
