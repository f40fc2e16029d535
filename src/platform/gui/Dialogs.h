#pragma once
// The one seam for modal dialogs (error box, information dialog, file and folder dialogs) and the
// default exception handler. Tests install their own DialogSeam.
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

class QWidget;

namespace vorlr {

// Where "Extract..." writes, and whether pictures are converted on the way.
struct ExtractTarget {
    std::string folder;
    bool convertPictures = false;
};

// "Open with...": an application of the list (its index), or a command typed (index -1).
struct ApplicationChoice {
    int index = -1;
    std::string command;
};

class DialogSeam {
public:
    virtual ~DialogSeam() = default;
    // Modal error box: title as caption, stop icon, one OK button.
    virtual void showError(QWidget* parent, const std::string& title, const std::string& text) = 0;
    // Modal information dialog: centred, title as caption, no icon, one "OK" button.
    virtual void showInformation(QWidget* parent, const std::string& title,
                                 const std::string& text) = 0;
    // File-open dialog; nullopt when cancelled. Returns the chosen path as 8-bit bytes, also a
    // name that does not exist: opening it reports that, as any failure to open does.
    virtual std::optional<std::string> getOpenFileName(QWidget* parent) = 0;
    // The extraction's folder dialog with its "Convert pictures to PNG" choice (off at first);
    // nullopt when cancelled. Seams that never ask for a folder need not answer.
    virtual std::optional<ExtractTarget> getExtractTarget(QWidget* parent) {
        (void)parent;
        return std::nullopt;
    }
    // Existing files for the archive's edits (one for Replace..., several for Add files...), as
    // 8-bit paths; empty when cancelled. The current directory is left alone.
    virtual std::vector<std::string> getFilesToAdd(QWidget* parent, const std::string& title,
                                                   bool several) {
        (void)parent, (void)title, (void)several;
        return {};
    }
    // An existing folder ("Add folder..."); nullopt when cancelled.
    virtual std::optional<std::string> getFolderToAdd(QWidget* parent) {
        (void)parent;
        return std::nullopt;
    }
    // The folder "Update from folder..." puts back into the archive; nullopt when cancelled.
    virtual std::optional<std::string> getFolderToUpdateFrom(QWidget* parent) {
        (void)parent;
        return std::nullopt;
    }
    // The file "Save archive as..." writes; nullopt when cancelled.
    virtual std::optional<std::string> getSaveArchiveName(QWidget* parent,
                                                          const std::string& suggested) {
        (void)parent, (void)suggested;
        return std::nullopt;
    }
    // A line of text, starting as initial (8-bit); nullopt when cancelled.
    virtual std::optional<std::string> getText(QWidget* parent, const std::string& title,
                                               const std::string& label,
                                               const std::string& initial) {
        (void)parent, (void)title, (void)label, (void)initial;
        return std::nullopt;
    }
    // A number from 0 to count - 1, starting at initial; nullopt when cancelled.
    virtual std::optional<int> getNumber(QWidget* parent, const std::string& title,
                                         const std::string& label, int count, int initial) {
        (void)parent, (void)title, (void)label, (void)count, (void)initial;
        return std::nullopt;
    }
    // "Open with...": the applications for a file (their names and icon names), one of them
    // preselected (-1: none) or a command shown; nullopt when cancelled.
    virtual std::optional<ApplicationChoice> getApplication(
        QWidget* parent, const std::string& fileName, const std::vector<std::string>& names,
        const std::vector<std::string>& icons, int selected, const std::string& command) {
        (void)parent, (void)fileName, (void)names, (void)icons, (void)selected, (void)command;
        return std::nullopt;
    }
    // A question with buttons: the index of the one chosen. Enter takes defaultButton, Escape
    // (or closing the box) escapeButton.
    virtual int ask(QWidget* parent, const std::string& title, const std::string& text,
                    const std::vector<std::string>& buttons, int defaultButton, int escapeButton) {
        (void)parent, (void)title, (void)text, (void)buttons, (void)defaultButton;
        return escapeButton;
    }
};

// The seam in use; Qt's real dialogs until replaced. Passing nullptr restores them.
DialogSeam& dialogs();
void setDialogs(DialogSeam* seam);

// Browse's dialog: the seam's open-file dialog, and when it closes with a file, the current
// directory moved to that file's folder, where the system's dialog has always left it.
std::optional<std::string> chooseFileToOpen(QWidget* parent);

// The default handler: shows the exception's text (message rule applied) in the error box.
void showException(const std::exception& e, QWidget* parent = nullptr);
void showInformationText(const std::string& text, QWidget* parent = nullptr);

// Runs f; any exception ends in the default handler instead of crossing a Qt frame.
template <class F>
void guarded(F&& f, QWidget* parent = nullptr) {
    try {
        f();
    } catch (const std::exception& e) {
        showException(e, parent);
    } catch (...) {
        showException(std::runtime_error("Unknown exception"), parent);
    }
}

}  // namespace vorlr
