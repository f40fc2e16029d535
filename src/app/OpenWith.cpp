// "Open in default application" and "Open with...": an entry's working copy handed to a program.
#include "app/ExternalEditing.h"

#include <QDesktopServices>
#include <QSettings>
#include <QUrl>

#include "app/ExternalFiles.h"
#include "platform/desktop/DesktopApplications.h"
#include "platform/gui/Dialogs.h"
#include "platform/Errors.h"

namespace vorlr {

namespace fs = std::filesystem;
using namespace external;

void ExternalEditing::openInDefaultApplication(NodeId node) {
    if (node < 0 || node >= w_.tree->size() || w_.tree->hasChildren(node) || !editor_.editable() ||
        *w_.work != WindowWork::Idle)
        return;
    const int32_t entry = w_.tree->entryIndex(node);
    if (!editor_.changes()->present(entry)) return;
    launch(workingCopies(entry).front(), false);
}

void ExternalEditing::openWith(NodeId node) {
    if (node < 0 || node >= w_.tree->size() || w_.tree->hasChildren(node) || !editor_.editable() ||
        *w_.work != WindowWork::Idle)
        return;
    const int32_t entry = w_.tree->entryIndex(node);
    if (!editor_.changes()->present(entry)) return;
    launch(workingCopies(entry).front(), true);
}

void ExternalEditing::launch(const std::string& file, bool choose) {
    const QString path = QString::fromLocal8Bit(file.c_str());
    const std::string shown = baseNameOf(file);
    if (!choose) {
        const QUrl url = QUrl::fromLocalFile(path);
        if (openUrl ? openUrl(url) : QDesktopServices::openUrl(url)) return;
        // No desktop service to hand it to: the first application the desktop's files name.
        const DesktopApplications apps;
        const std::vector<DesktopApplication> list = apps.forFile(path);
        if (list.empty())
            throw Error("No program is set to open " + shown + " (" +
                        DesktopApplications::mimeTypeOf(path).toStdString() +
                        "): choose one with Open with...");
        startDetached(commandFor(list.front(), path));
        return;
    }
    const QString type = DesktopApplications::mimeTypeOf(path);
    const DesktopApplications apps;
    const std::vector<DesktopApplication> list = apps.forMimeType(type);
    QSettings settings(QString::fromLocal8Bit(configFile().c_str()), QSettings::IniFormat);
    OpenWithChoices choices(settings);
    const std::optional<OpenWithChoices::Choice> before = choices.remembered(type);
    std::vector<std::string> names, icons;
    int selected = list.empty() ? -1 : 0;
    std::string command;
    for (size_t k = 0; k < list.size(); ++k) {
        names.push_back(list[k].name.toStdString());
        icons.push_back(list[k].icon.toStdString());
        if (before && before->kind == OpenWithChoices::Choice::Kind::Application && before->value == list[k].id)
            selected = static_cast<int>(k);
    }
    if (before && before->kind == OpenWithChoices::Choice::Kind::Command) {
        command = before->value.toStdString();
        selected = -1;
    }
    const std::optional<ApplicationChoice> answer =
        dialogs().getApplication(w_.form, shown, names, icons, selected, command);
    if (!answer) return;
    OpenWithChoices::Choice choice;
    LaunchCommand run;
    if (answer->index >= 0 && static_cast<size_t>(answer->index) < list.size()) {
        const DesktopApplication& app = list[static_cast<size_t>(answer->index)];
        run = commandFor(app, path);
        choice = {OpenWithChoices::Choice::Kind::Application, app.id};
    } else if (!answer->command.empty()) {
        run = customCommand(QString::fromStdString(answer->command), path);
        choice = {OpenWithChoices::Choice::Kind::Command, QString::fromStdString(answer->command)};
    } else {
        return;
    }
    startDetached(run);
    choices.remember(type, choice);
}

}  // namespace vorlr
