#include <memory>
#include <cstdio>
#include <exception>
#include <future>
#include <string>

#include "archive/ArchiveDiff.h"
#include "archive/Container.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/JsonLine.h"
#include "platform/Errors.h"

namespace qar {

namespace {

struct DiffArgs {
    std::string oldPath, newPath;
    bool json = false;
};

std::string jsonLine(const vorlr::DiffLine& line) {
    using Kind = vorlr::DiffLine::Kind;
    static const char* const kinds[] = {"header", "removed", "added", "modified", "renamed",
                                        "unread"};
    JsonLine json;
    json.text("change", kinds[static_cast<int>(line.kind)]);
    if (line.kind != Kind::Header) json.name("name", line.name);
    if (line.kind == Kind::Renamed) json.name("new_name", line.newName);
    return json.line();
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
int runDiff(const DiffArgs& opts) {
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
        if (opts.json) {
            out += jsonLine(line);
        } else {
            out += vorlr::FormatDiffLine(line);
            out += '\n';
        }
        if (!writeOutput(out, false)) return fail("cannot write the output", 2);
    }
    if (!writeOutput(out, true)) return fail("cannot write the output", 2);
    return lines.empty() ? 0 : 1;
}

void addDiffCommand(CommandLine& line) {
    auto o = std::make_shared<DiffArgs>();
    CLI::App* cmd = line.add(
        {"diff", "qar diff OLD NEW [--json]", "what differs between two archives",
         "Lines: H (the first 512 bytes differ), then in OLD's directory order\n"
         "- NAME (only in OLD), R OLD -> NEW (renamed: equal content), M NAME (size or\n"
         "content differs), X NAME (the record's unread bytes differ), then + NAME (only\n"
         "in NEW) in NEW's order. The n-th entry of a name goes with the n-th of the\n"
         "other. Exit 0 when equal, 1 when different, 2 on trouble.\n"
         "--json fields: change (header, removed, added, modified, renamed, unread), name,\n"
         "new_name (renamed).\n" + std::string(kJsonHelp)},
        [o] { return runDiff(*o); });
    cmd->add_option("OLD", o->oldPath)->required();
    cmd->add_option("NEW", o->newPath)->required();
    cmd->add_flag("--json", o->json);
}

}  // namespace qar
