// qar: the command-line tool for Vorlund packed archives.
#include <cstdio>
#include <set>
#include <string>
#include <string_view>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "platform/HugePages.h"

namespace qar {

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

int usage(const std::string& command, const std::string& problem) {
    if (!problem.empty())
        std::fprintf(stderr, "qar%s%s: %s\n", command.empty() ? "" : " ", command.c_str(),
                     problem.c_str());
    std::fputs(TheCommandLine().usageText(command).c_str(), stderr);
    return 2;
}

}  // namespace qar

int main(int argc, char** argv) {
    // Only the commands that read whole directories gain from huge pages; for the others the
    // second start would be most of their time.
    static const std::set<std::string> kDirectoryReaders = {
        "list", "tree",   "cat",    "text",  "extract", "check", "pack",  "update",
        "replace", "delete", "rename", "diff", "mount",   "layers", "merge", "grep"};
    if (argc > 1 && kDirectoryReaders.count(argv[1])) {
        vorlr::StartWithHugePages(argv);
        // mount stays on while the directory is read once; the others end soon after.
        if (std::string_view(argv[1]) != "mount") vorlr::KeepFreedMemory();
    }
    using namespace qar;
    CommandLine line;
    addInfoCommand(line);
    addListCommand(line);
    addTreeCommand(line);
    addCatCommand(line);
    addTextCommand(line);
    addConvertCommand(line);
    addExtractCommand(line);
    addCheckCommand(line);
    addPackCommand(line);
    addEncodeCommand(line);
    addUpdateCommand(line);
    addReplaceCommand(line);
    addDeleteCommand(line);
    addRenameCommand(line);
    addDiffCommand(line);
    addMountCommand(line);
    addLayersCommand(line);
    addMergeCommand(line);
    addGrepCommand(line);
    return line.run(argc, argv);
}
