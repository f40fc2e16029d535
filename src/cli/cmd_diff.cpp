#include <cstdio>
#include <exception>
#include <future>
#include <string>

#include "archive/ArchiveDiff.h"
#include "archive/Container.h"
#include "cli/Commands.h"
#include "platform/Errors.h"

namespace qar {

namespace {

struct DiffArgs {
    std::string oldPath, newPath;
};

bool parse(const Args& args, DiffArgs& out) {
    std::vector<std::string> words;
    bool optionsDone = false;
    for (const std::string& a : args) {
        if (!optionsDone && a == "--") {
            optionsDone = true;
        } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
            return false;
        } else {
            words.push_back(a);
        }
    }
    if (words.size() != 2) return false;
    out.oldPath = words[0];
    out.newPath = words[1];
    return true;
}

// Opens an archive that passes the validation rule and reads its fingerprint.
vorlr::ArchiveFingerprint fingerprint(const std::string& path) {
    try {
        vorlr::Archive archive;
        archive.open(path);
        vorlr::ArchiveReader reader(archive);
        if (!vorlr::ReadArchiveFigures(reader).valid)
            throw vorlr::Error("Not a valid vorlund packed-file!");
        vorlr::ReadDirectory(archive);
        return vorlr::FingerprintArchive(archive);
    } catch (const vorlr::Error& e) {
        throw vorlr::Error(path + ": " + e.what());
    }
}

}  // namespace

// qar diff OLD NEW: exit 0 when equal, 1 when different, 2 on trouble (as diff(1)).
int cmdDiff(const Args& args) {
    DiffArgs opts;
    if (!parse(args, opts)) return usage("diff");
    vorlr::ArchiveFingerprint oldOne, newOne;
    try {
        // Both files are read at once, each on a thread of its own.
        auto later = std::async(std::launch::async, [&] { return fingerprint(opts.newPath); });
        oldOne = fingerprint(opts.oldPath);
        newOne = later.get();
    } catch (const std::exception& e) {
        return fail(e.what(), 2);
    }
    std::string out;
    const auto lines = vorlr::DiffFingerprints(oldOne, newOne);
    for (const auto& line : lines) {
        out += vorlr::FormatDiffLine(line);
        out += '\n';
        if (!writeOutput(out, false)) return fail("cannot write the output", 2);
    }
    if (!writeOutput(out, true)) return fail("cannot write the output", 2);
    return lines.empty() ? 0 : 1;
}

}  // namespace qar
