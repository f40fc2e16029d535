#include "app/CommandLine.h"

#include <QTimer>

#include "app/Unit1.h"
#include "platform/gui/Dialogs.h"
#include "platform/RuntimeFile.h"

namespace vorlr {

namespace {

const char* const kUsage =
    "usage: vorlr [FILE]\n"
    "       vorlr --help | --version\n";

const char* const kHelp =
    "\n"
    "Viewer for Vorlund packed resource archives (.qar).\n"
    "\n"
    "With FILE, the window opens the archive as Browse does: it is checked, added to the\n"
    "archive list and loaded. The archive list (VORLR.LST), scratch files and saved files\n"
    "live in the current directory.\n"
    "\n"
    "  -h, --help     this help\n"
    "      --version  the version\n"
    "  --             ends the options (for a FILE that starts with '-')\n";

CommandLine wrongUsage(const std::string& problem) {
    CommandLine c;
    c.exit = true;
    c.exitStatus = 2;
    c.message = "vorlr: " + problem + "\n" + kUsage;
    return c;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    bool optionsDone = false;
    bool haveFile = false;
    for (const std::string& a : args) {
        if (!optionsDone && a == "--") {
            optionsDone = true;
        } else if (!optionsDone && (a == "--help" || a == "-h")) {
            CommandLine c;
            c.exit = true;
            c.message = std::string(kUsage) + kHelp;
            return c;
        } else if (!optionsDone && a == "--version") {
            CommandLine c;
            c.exit = true;
            c.message = "vorlr " VORLR_VERSION "\n";
            return c;
        } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
            return wrongUsage("unknown option '" + a + "'");
        } else if (haveFile) {
            return wrongUsage("only one FILE can be opened");
        } else {
            haveFile = true;
            result.file = a;
        }
    }
    if (haveFile && (result.file.empty() || result.file[0] != '/'))
        result.file = AbsoluteFileName(result.file, currentDirectory());
    return result;
}

std::string AbsoluteFileName(const std::string& name, const std::string& directory) {
    if (!name.empty() && name[0] == '/') return name;
    std::string base = directory;
    std::string rest;
    bool leading = true;  // still among the leading "." and ".." segments
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        const std::string segment = name.substr(start, end - start);
        start = end + 1;
        if (segment.empty() || segment == ".") continue;
        if (leading && segment == "..") {
            const size_t slash = base.find_last_of('/');
            if (slash == std::string::npos || slash == 0)
                base = "/";
            else
                base.erase(slash);
            continue;
        }
        leading = false;
        rest += rest.empty() ? "" : "/";
        rest += segment;
    }
    if (base.empty() || base.back() != '/') base += '/';
    return base + rest;
}

void OpenAtStart(TForm1& form, const std::string& file) {
    QTimer::singleShot(0, &form,
                       [&form, file] { guarded([&] { form.OpenArchive(file); }, &form); });
}

}  // namespace vorlr
