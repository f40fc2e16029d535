#pragma once
// A dialog seam for tests: records every box the program shows and answers the open-file and
// folder dialogs from scripts (no answer left: cancelled). Installs itself while it lives.
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/gui/Dialogs.h"

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

    std::vector<std::string> getFilesToAdd(QWidget*, const std::string& title, bool several) override {
        fileTitles.push_back(title);
        severalAsked.push_back(several);
        if (fileLists.empty()) return {};
        auto answer = fileLists.front();
        fileLists.pop_front();
        return answer;
    }
    std::optional<std::string> getFolderToAdd(QWidget*) override { return next(addFolders); }
    std::optional<std::string> getFolderToUpdateFrom(QWidget*) override { return next(updateFolders); }
    std::optional<std::string> getSaveArchiveName(QWidget*, const std::string& suggested) override {
        suggestedNames.push_back(suggested);
        return next(saveNames);
    }
    std::optional<std::string> getText(QWidget*, const std::string&, const std::string& label,
                                       const std::string& initial) override {
        textLabels.push_back(label);
        textInitials.push_back(initial);
        return next(texts);
    }
    std::optional<int> getNumber(QWidget*, const std::string&, const std::string& label, int count,
                                 int initial) override {
        numberLabels.push_back(label);
        numberCounts.push_back(count);
        numberInitials.push_back(initial);
        return next(numbers);
    }
    std::optional<ApplicationChoice> getApplication(QWidget*, const std::string& fileName,
                                                    const std::vector<std::string>& names,
                                                    const std::vector<std::string>&, int selected,
                                                    const std::string& command) override {
        applicationFiles.push_back(fileName);
        applicationLists.push_back(names);
        applicationShown.push_back({selected, command});
        if (applications.empty()) return std::nullopt;
        auto answer = applications.front();
        applications.pop_front();
        return answer;
    }
    int ask(QWidget*, const std::string&, const std::string& text,
            const std::vector<std::string>& buttons, int defaultButton, int escapeButton) override {
        questions.push_back(text);
        questionButtons.push_back(buttons);
        questionDefaults.push_back({defaultButton, escapeButton});
        if (duringAsk) duringAsk();
        if (choices.empty()) return escapeButton;
        const int answer = choices.front();
        choices.pop_front();
        return answer;
    }

    std::vector<std::string> errors, infos;            // message texts, in order
    std::vector<std::string> errorTitles, infoTitles;  // their captions
    std::deque<std::optional<std::string>> answers;    // for the open-file dialog
    std::deque<std::string> folders;                   // for the folder dialog
    bool convertPictures = false;                      // its check box
    std::function<void()> duringOpen;                  // runs while the open dialog is up
    // The editing dialogs: answers in order (none left: cancelled, or the escape button).
    std::deque<std::vector<std::string>> fileLists;
    std::deque<std::optional<std::string>> addFolders, updateFolders, saveNames, texts;
    std::deque<std::optional<int>> numbers;
    std::deque<int> choices;
    std::deque<std::optional<ApplicationChoice>> applications;
    std::vector<std::string> applicationFiles;
    std::vector<std::vector<std::string>> applicationLists;
    std::vector<std::pair<int, std::string>> applicationShown;  // preselected, command
    std::function<void()> duringAsk;
    // And what they were shown.
    std::vector<std::string> fileTitles, suggestedNames, textLabels, textInitials, numberLabels;
    std::vector<bool> severalAsked;
    std::vector<int> numberCounts, numberInitials;
    std::vector<std::string> questions;
    std::vector<std::vector<std::string>> questionButtons;
    std::vector<std::pair<int, int>> questionDefaults;  // default, escape
    int opened = 0;
    int folderAsked = 0;

private:
    template <class T>
    static std::optional<T> next(std::deque<std::optional<T>>& answers) {
        if (answers.empty()) return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

}  // namespace vorlr::testing
