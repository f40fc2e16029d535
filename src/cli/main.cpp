// qar: the command-line tool for Vorlund packed archives.
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <string>

#include "cli/Commands.h"

namespace qar {

namespace {

struct Command {
    int (*run)(const Args&);
    const char* synopsis;
    const char* summary;
    const char* details = nullptr;  // more for the command's own help
};

const std::map<std::string, Command>& commands() {
    static const std::map<std::string, Command> table = {
        {"info", {cmdInfo, "qar info ARCHIVE", "validation verdict and figures"}},
        {"list", {cmdList, "qar list ARCHIVE [PATTERN...]", "one line per directory entry, in directory order; PATTERNs keep the matching ones (one that matches nothing: exit 1)"}},
        {"tree", {cmdTree, "qar tree ARCHIVE [PATTERN...]", "the folder tree exactly as the viewer builds it; PATTERNs keep matching entries and the nodes above them (one that matches nothing: exit 1)"}},
        {"cat", {cmdCat, "qar cat ARCHIVE NAME", "an entry's bytes on standard output"}},
        {"text", {cmdText, "qar text ARCHIVE NAME", "a text entry as the viewer loads it (UTF-16 made 8-bit)"}},
        {"convert", {cmdConvert, "qar convert ARCHIVE NAME OUT [--all]", "a .kmg or .tga entry decoded to OUT (.bmp or .png)"}},
        {"extract", {cmdExtract, "qar extract ARCHIVE [-o DIR] [--keep] [--convert png|bmp] [-j N] [PATTERN...]",
                     "entries to files under DIR (default .)",
                     "With --convert every .kmg and .tga entry is written as pictures: NAME.png, or\n"
                     "NAME_0.png, NAME_1.png, ... for the sub-images of a palette KMG, decoded on N\n"
                     "workers (-j, default one per core). A picture that cannot be decoded is reported\n"
                     "as \"qar: NAME: MESSAGE\" and written as stored; the exit status is then 1."}},
        {"check", {cmdCheck, "qar check ARCHIVE", "every structural problem of the archive"}},
        {"mount", {cmdMount, "qar mount ARCHIVE... MOUNTPOINT [--convert png] [--ignore-case] [--foreground]",
                   "the archives as one read-only folder (FUSE)",
                   "Folders come from the names split at \\, as extract writes them; unsafe names are\n"
                   "left out (warned) and the last of duplicated names is shown. An entry of a later\n"
                   "ARCHIVE replaces one of the same name in an earlier one; folders merge.\n"
                   "  --convert png   .kmg and .tga entries appear as the PNG files that\n"
                   "                  extract --convert png writes (made when first looked at)\n"
                   "  --ignore-case   names match with letters A-Z in either case\n"
                   "  --foreground    serve in this process; Ctrl+C unmounts\n"
                   "Without --foreground the command returns once the folder is mounted.\n"
                   "Unmount with: fusermount3 -u MOUNTPOINT"}},
        {"pack", {cmdPack, "qar pack DIR OUT", "a new archive from the regular files under DIR"}},
    };
    return table;
}

void printMainHelp(FILE* out) {
    std::fprintf(out, "qar - read Vorlund packed archives (.qar)\n\nusage:\n");
    for (const auto& [name, c] : commands()) {
        if (std::strlen(c.synopsis) <= 50)
            std::fprintf(out, "  %-50s %s\n", c.synopsis, c.summary);
        else
            std::fprintf(out, "  %s\n  %-50s %s\n", c.synopsis, "", c.summary);
    }
    std::fprintf(out, "  %-50s %s\n", "qar --help | qar COMMAND --help | qar --version", "this help, a command's help, the version");
    std::fprintf(out,
                 "\nNAME is an entry's full stored name (DATA\\README.TXT, or DATA/README.TXT);\n"
                 "#N names entry N (0-based). Errors go to standard error; exit status 1 on\n"
                 "failure, 2 on wrong usage.\n");
}

}  // namespace

int fail(const std::string& message, int status) {
    std::fprintf(stderr, "qar: %s\n", message.c_str());
    return status;
}

bool writeOutput(std::string& out, bool flush) {
    if (!flush && out.size() < (1 << 20)) return true;
    const bool ok = std::fwrite(out.data(), 1, out.size(), stdout) == out.size();
    out.clear();
    if (!flush) return ok;
    return std::fflush(stdout) == 0 && ok && !std::ferror(stdout);  // an earlier failed chunk too
}

bool wantsHelp(const Args& args) {
    for (const auto& a : args)
        if (a == "--help" || a == "-h") return true;
    return false;
}

void printHelp(const std::string& command) {
    auto it = commands().find(command);
    if (it == commands().end()) return printMainHelp(stdout);
    std::printf("usage: %s\n%s\n", it->second.synopsis, it->second.summary);
    if (it->second.details) std::printf("\n%s\n", it->second.details);
}

int usage(const std::string& command) {
    auto it = commands().find(command);
    if (it == commands().end()) {
        printMainHelp(stderr);
    } else {
        std::fprintf(stderr, "usage: %s\n", it->second.synopsis);
    }
    return 2;
}

}  // namespace qar

int main(int argc, char** argv) {
    using namespace qar;
    if (argc < 2) return usage("");
    const std::string first = argv[1];
    if (first == "--version") {
        std::printf("qar %s\n", VORLR_VERSION);
        return 0;
    }
    if (first == "--help" || first == "-h" || first == "help") {
        printMainHelp(stdout);
        return 0;
    }
    auto it = commands().find(first);
    if (it == commands().end()) {
        std::fprintf(stderr, "qar: unknown command '%s'\n", first.c_str());
        return usage("");
    }
    Args args(argv + 2, argv + argc);
    if (wantsHelp(args)) {
        printHelp(first);
        return 0;
    }
    try {
        return it->second.run(args);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
