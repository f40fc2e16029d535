#include "platform/gui/Dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QDialogButtonBox>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <filesystem>

#include "platform/Errors.h"
#include "platform/RuntimeFile.h"
#include "platform/Text.h"

namespace vorlr {
namespace {

// An existing folder; nullopt when cancelled.
std::optional<std::string> chooseFolder(QWidget* parent, const QString& title) {
    QFileDialog dialog(parent, title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toLocal8Bit().toStdString();
}

class QtDialogs final : public DialogSeam {
public:
    void showError(QWidget* parent, const std::string& title, const std::string& text) override {
        QMessageBox box(QMessageBox::Critical, fromCp1252(title), fromCp1252(text),
                        QMessageBox::Ok, parent);
        box.exec();
    }
    void showInformation(QWidget* parent, const std::string& title,
                         const std::string& text) override {
        QMessageBox box(QMessageBox::NoIcon, fromCp1252(title), fromCp1252(text),
                        QMessageBox::NoButton, parent);
        box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.adjustSize();
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect r = box.frameGeometry();
            r.moveCenter(screen->availableGeometry().center());
            box.move(r.topLeft());
        }
        box.exec();
    }
    std::optional<std::string> getOpenFileName(QWidget* parent) override {
        QFileDialog dialog(parent);
        // Any name goes back to the program, which reports a missing file itself; Qt's own
        // dialog (a native one may insist on existing files) would refuse it with a box.
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setOption(QFileDialog::ReadOnly, false);
        dialog.setSizeGripEnabled(true);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().first().toLocal8Bit().toStdString();
    }
    std::optional<ExtractTarget> getExtractTarget(QWidget* parent) override {
        // Qt's own folder dialog, which takes the check box below its buttons.
        QFileDialog dialog(parent, QStringLiteral("Extract to"));
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
        auto* convert = new QCheckBox(QStringLiteral("Convert pictures to PNG"), &dialog);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
            grid->addWidget(convert, grid->rowCount(), 0, 1, grid->columnCount());
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return ExtractTarget{dialog.selectedFiles().first().toLocal8Bit().toStdString(),
                             convert->isChecked()};
    }
    std::vector<std::string> getFilesToAdd(QWidget* parent, const std::string& title,
                                           bool several) override {
        QFileDialog dialog(parent, fromCp1252(title));
        dialog.setFileMode(several ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setSizeGripEnabled(true);
        std::vector<std::string> files;
        if (dialog.exec() != QDialog::Accepted) return files;
        for (const QString& f : dialog.selectedFiles()) files.push_back(f.toLocal8Bit().toStdString());
        return files;
    }
    std::optional<std::string> getFolderToAdd(QWidget* parent) override {
        return chooseFolder(parent, QStringLiteral("Add folder"));
    }
    std::optional<std::string> getFolderToUpdateFrom(QWidget* parent) override {
        return chooseFolder(parent, QStringLiteral("Update from folder"));
    }
    std::optional<std::string> getSaveArchiveName(QWidget* parent,
                                                  const std::string& suggested) override {
        QFileDialog dialog(parent, QStringLiteral("Save archive as"));
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setSizeGripEnabled(true);
        if (!suggested.empty()) dialog.selectFile(QString::fromLocal8Bit(suggested.c_str()));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().first().toLocal8Bit().toStdString();
    }
    std::optional<std::string> getText(QWidget* parent, const std::string& title,
                                       const std::string& label,
                                       const std::string& initial) override {
        QInputDialog dialog(parent);
        dialog.setWindowTitle(fromCp1252(title));
        dialog.setLabelText(fromCp1252(label));
        dialog.setTextValue(fromCp1252(initial));
        dialog.resize(std::max(dialog.sizeHint().width(), 420), dialog.sizeHint().height());
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return toCp1252(dialog.textValue());
    }
    std::optional<int> getNumber(QWidget* parent, const std::string& title,
                                 const std::string& label, int count, int initial) override {
        QInputDialog dialog(parent);
        dialog.setWindowTitle(fromCp1252(title));
        dialog.setLabelText(fromCp1252(label));
        dialog.setInputMode(QInputDialog::IntInput);
        dialog.setIntRange(0, std::max(count - 1, 0));
        dialog.setIntValue(initial);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return dialog.intValue();
    }
    std::optional<ApplicationChoice> getApplication(QWidget* parent, const std::string& fileName,
                                                    const std::vector<std::string>& names,
                                                    const std::vector<std::string>& icons,
                                                    int selected,
                                                    const std::string& command) override {
        QDialog dialog(parent);
        dialog.setWindowTitle(QStringLiteral("Open with"));
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(new QLabel(QStringLiteral("Open %1 with:").arg(QString::fromLocal8Bit(fileName.c_str()))));
        auto* list = new QListWidget(&dialog);
        for (size_t k = 0; k < names.size(); ++k) {
            auto* item = new QListWidgetItem(QString::fromStdString(names[k]), list);
            if (k < icons.size() && !icons[k].empty()) {
                const QString icon = QString::fromStdString(icons[k]);
                item->setIcon(icon.startsWith(QLatin1Char('/')) ? QIcon(icon) : QIcon::fromTheme(icon));
            }
        }
        layout->addWidget(list);
        layout->addWidget(new QLabel(QStringLiteral("Or a command (%f stands for the file):")));
        auto* line = new QLineEdit(QString::fromStdString(command), &dialog);
        layout->addWidget(line);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
        layout->addWidget(buttons);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
        // Choosing an application clears the command, typing one clears the choice.
        QObject::connect(list, &QListWidget::currentRowChanged, line, [line, list](int row) {
            if (row >= 0 && list->hasFocus()) line->clear();
        });
        QObject::connect(line, &QLineEdit::textEdited, list, [list](const QString& text) {
            if (!text.isEmpty()) list->clearSelection(), list->setCurrentRow(-1);
        });
        if (selected >= 0 && selected < list->count()) list->setCurrentRow(selected);
        if (!command.empty() || list->count() == 0) line->setFocus();
        else list->setFocus();
        dialog.resize(420, 360);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        if (!line->text().trimmed().isEmpty())
            return ApplicationChoice{-1, line->text().trimmed().toStdString()};
        if (list->currentRow() < 0) return std::nullopt;
        return ApplicationChoice{list->currentRow(), {}};
    }
    int ask(QWidget* parent, const std::string& title, const std::string& text,
            const std::vector<std::string>& buttons, int defaultButton, int escapeButton) override {
        QMessageBox box(QMessageBox::Question, fromCp1252(title), fromCp1252(text),
                        QMessageBox::NoButton, parent);
        std::vector<QPushButton*> made;
        for (size_t k = 0; k < buttons.size(); ++k) {
            // Roles only place the buttons; the answer is which one was pressed.
            const auto role = static_cast<int>(k) == escapeButton ? QMessageBox::RejectRole
                                                                  : QMessageBox::AcceptRole;
            made.push_back(box.addButton(fromCp1252(buttons[k]), role));
        }
        if (defaultButton >= 0 && defaultButton < static_cast<int>(made.size()))
            box.setDefaultButton(made[static_cast<size_t>(defaultButton)]);
        if (escapeButton >= 0 && escapeButton < static_cast<int>(made.size()))
            box.setEscapeButton(made[static_cast<size_t>(escapeButton)]);
        box.exec();
        for (size_t k = 0; k < made.size(); ++k)
            if (box.clickedButton() == made[k]) return static_cast<int>(k);
        return escapeButton;
    }
};

DialogSeam*& current() {
    static DialogSeam* seam = nullptr;
    return seam;
}

}  // namespace

DialogSeam& dialogs() {
    static QtDialogs real;
    return current() ? *current() : real;
}

void setDialogs(DialogSeam* seam) { current() = seam; }

std::optional<std::string> chooseFileToOpen(QWidget* parent) {
    std::optional<std::string> chosen = dialogs().getOpenFileName(parent);
    if (!chosen) return chosen;
    // The dialog cannot have closed in a folder that is not there (a typed name) or that
    // cannot be entered: the directory then stays as it was.
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(*chosen).parent_path();
    if (!folder.empty() && std::filesystem::is_directory(folder, ec)) {
        try {
            setCurrentDirectory(folder.string());
        } catch (const Error&) {
        }
    }
    return chosen;
}

void showException(const std::exception& e, QWidget* parent) {
    try {
        dialogs().showError(parent, applicationTitle(), displayedMessage(e.what()));
    } catch (...) {
        // Nothing may escape the default handler.
    }
}

void showInformationText(const std::string& text, QWidget* parent) {
    dialogs().showInformation(parent, applicationTitle(), text);
}

}  // namespace vorlr
