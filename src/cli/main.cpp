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

const char* const kEditDetails =
    "The new archive goes to OUT, or with --in-place over ARCHIVE (--backup keeps the old one\n"
    "as ARCHIVE.bak). Everything not changed stays byte for byte: the first 512 bytes, the\n"
    "entry order, the records' unread bytes, the bytes between entries, the data alignment.\n"
    "It is written to a temporary file beside the target, flushed and renamed over it: a\n"
    "failure leaves the target as it was and no temporary behind.";

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
        {"diff", {cmdDiff, "qar diff OLD NEW", "what differs between two archives",
                  "Lines: H (the first 512 bytes differ), then in OLD's directory order\n"
                  "- NAME (only in OLD), R OLD -> NEW (renamed: equal content), M NAME (size or\n"
                  "content differs), X NAME (the record's unread bytes differ), then + NAME (only\n"
                  "in NEW) in NEW's order. The n-th entry of a name goes with the n-th of the\n"
                  "other. Exit 0 when equal, 1 when different, 2 on trouble."}},
        {"update", {cmdUpdate, "qar update ARCHIVE DIR (-o OUT | --in-place [--backup]) [--delete-missing] [--dry-run] [-j N]",
                    "put a folder (as extract writes it) back into an archive",
                    "Each regular file under DIR names an entry as extract writes it (pictures from\n"
                    "extract --convert as NAME.png or NAME_i.png). Files holding what extract writes\n"
                    "leave their entries byte for byte as they are; changed files replace them;\n"
                    "files naming no entry are added at the end in sorted order. --delete-missing\n"
                    "removes entries whose file is missing. Prints M NAME, A NAME, D NAME per change\n"
                    "in directory order; --dry-run prints them and writes nothing. Pictures are\n"
                    "compared on N workers (-j, default one per core). Exit 0, or 1 when something\n"
                    "failed (nothing is written then)."}},
        {"pack", {cmdPack, "qar pack DIR OUT", "a new archive from the regular files under DIR"}},
        {"encode", {cmdEncode, "qar encode PICTURE... OUT [--like ARCHIVE NAME] [--kind KIND] [--keep-palette] [--dither]",
                    "pictures (PNG, BMP) to a .kmg or .tga file",
                    "OUT's extension gives the format. Several PICTUREs make the sub-images of a\n"
                    "palette KMG. --like takes the kind, the palette, the Targa type and depth and\n"
                    "every byte the viewer does not read from that entry. KIND is rgb16, palette,\n"
                    "tga8, tga24, tga32, grey, tga24rle or tga32rle; without --like or --kind a .kmg\n"
                    "is a palette one when the pictures hold transparency or at most 255 colours\n"
                    "(else rgb16), a .tga 24-bit (32-bit when a picture has alpha). Palette pictures\n"
                    "keep the entry's palette when it holds every colour, else get a new one of at\n"
                    "most 255 colours; alpha below 128 is transparent. --keep-palette maps every\n"
                    "colour to the nearest in the entry's palette; --dither spreads the error where\n"
                    "colours are approximated."}},
        {"replace", {cmdReplace, "qar replace ARCHIVE NAME FILE (-o OUT | --in-place [--backup])", "an archive with entry NAME's data taken from FILE", kEditDetails}},
        {"delete", {cmdDelete, "qar delete ARCHIVE PATTERN... (-o OUT | --in-place [--backup])", "an archive without the entries matching a PATTERN (one that matches nothing: exit 1, nothing written)", kEditDetails}},
        {"rename", {cmdRename, "qar rename ARCHIVE NAME NEWNAME (-o OUT | --in-place [--backup])", "an archive with entry NAME stored as NEWNAME ('/' stored as '\\')", kEditDetails}},
    };
    return table;
}

void printMainHelp(FILE* out) {
    std::fprintf(out, "qar - read and edit Vorlund packed archives (.qar)\n\nusage:\n");
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
