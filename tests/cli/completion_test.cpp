// qar's bash completion, sourced into bash with the bash-completion library as the installed
// script is: commands, options, archive files, and the entry names of the archive on the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "lib/QarBuilder.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

namespace vorlr {
namespace {

namespace fs = std::filesystem;

const char* const kLibrary = "/usr/share/bash-completion/bash_completion";

// Completes the last of words (as typed, quotes and backslashes kept) in dir; the candidates
// sorted.
std::vector<std::string> complete(const std::string& dir, const std::vector<std::string>& words) {
    const std::string script =
        "source " + std::string(kLibrary) +
        " && source " VORLR_SOURCE_DIR
        "/packaging/qar.bash-completion || exit 3\n"
        "PATH=" +
        fs::path(VORLR_QAR_PATH).parent_path().string() +
        ":$PATH\n"
        "COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMP_LINE=\"$*\"; COMP_POINT=${#COMP_LINE}\n"
        "_qar && printf '%s\\n' \"${COMPREPLY[@]}\"\n";
    std::vector<std::string> argv{"/bin/bash", "-c", script, "bash"};
    argv.insert(argv.end(), words.begin(), words.end());
    const auto r = testing::runProgram(argv, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<std::string> out;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) out.push_back(line);
    std::sort(out.begin(), out.end());
    return out;
}

using Words = std::vector<std::string>;

TEST(QarCompletion, CommandsOptionsFilesAndEntryNames) {
    ASSERT_TRUE(fs::exists(kLibrary)) << "bash-completion is not installed";
    testing::TempDir dir;
    fs::create_directory(dir.file("my dir"));
    fs::create_directory(dir.file("sub"));
    const auto data = samples::bytesOf("x");
    samples::writeQar(dir.file("my dir/a.qar"),
                      {
                          {"DATA\\TEXT\\WELCOME.TXT", data, {}, {}, false},
                          {"DATA\\TEXT\\MY NOTE.TXT", data, {}, {}, false},
                          {"DATA\\README.TXT", data, {}, {}, false},
                          {"DATA\\TEXT\\WELCOME.TXT", data, {}, {}, false},
                          {"SOUND\\A.WAV", data, {}, {}, false},
                          {"ROOT.TXT", data, {}, {}, false},
                          {"GFX\\[1] $X.TGA", data, {}, {}, false},
                      });
    for (const char* f : {"b.qar", "C.QAR", "notes.txt"}) samples::writeFile(dir.file(f), data);
    struct Case {
        Words words;
        Words expected;
    };
    const std::string archive = "my\\ dir/a.qar";
    const Case cases[] = {
        {{"qar", "c"}, {"cat", "check", "convert"}},
        {{"qar", "--v"}, {"--version"}},
        {{"qar", "info", ""}, {"C.QAR", "b.qar", "my dir", "sub"}},
        {{"qar", "pack", ""}, {"my dir", "sub"}},
        {{"qar", "pack", "sub", ""}, {"C.QAR", "b.qar", "my dir", "sub"}},
        {{"qar", "convert", "-"}, {"--all", "--help"}},
        {{"qar", "list", "b.qar", "--"}, {"--help", "--json"}},
        {{"qar", "extract", "b.qar", "-"}, {"--", "--help", "--keep", "-o"}},
        {{"qar", "extract", "b.qar", "-o", ""}, {"my dir", "sub"}},
        {{"qar", "d"}, {"delete", "diff"}},
        {{"qar", "diff", "b.qar", ""}, {"C.QAR", "b.qar", "my dir", "sub"}},
        {{"qar", "update", "b.qar", ""}, {"my dir", "sub"}},
        {{"qar", "update", "b.qar", "-j", "2", "sub", "--d"}, {"--delete-missing", "--dry-run"}},
        {{"qar", "update", "b.qar", "sub", "--m"}, {"--match-names"}},
        {{"qar", "update", "b.qar", "sub", "-o", ""}, {"C.QAR", "b.qar", "my dir", "sub"}},
        {{"qar", "re"}, {"rename", "replace"}},
        {{"qar", "replace", "b.qar", "-"}, {"--", "--backup", "--help", "--in-place", "-o"}},
        {{"qar", "delete", "-o", ""}, {"C.QAR", "b.qar", "my dir", "sub"}},
        {{"qar", "rename", "--in-place", archive, "SOUND/"}, {"SOUND/A.WAV"}},
        {{"qar", "mo"}, {"mount"}},
        {{"qar", "gr"}, {"grep"}},
        {{"qar", "grep", "-"}, {"--", "--help", "--text-only", "-F", "-c", "-i", "-j", "-l", "-n"}},
        {{"qar", "grep", ""}, {}},  // PATTERN
        {{"qar", "grep", "-i", "x", ""}, {"C.QAR", "b.qar", "my dir", "sub"}},
        {{"qar", "grep", "-j", "2", "x", "b.qar", ""}, {"C.QAR", "b.qar", "my dir", "sub"}},
        {{"qar", "mount", "b.qar", "-"}, {"--convert", "--foreground", "--help", "--ignore-case"}},
        {{"qar", "mount", "b.qar", "--convert", ""}, {"png"}},
        {{"qar", "mount", "b.qar", "--convert", "png", "C.QAR", ""}, {"C.QAR", "b.qar", "my dir", "sub"}},
        {{"qar", "la"}, {"layers"}},
        {{"qar", "layers", "b.qar", "-"}, {"--help", "--hidden", "--ignore-case", "--json"}},
        {{"qar", "layers", "b.qar", "--hidden", ""}, {"C.QAR", "b.qar", "my dir", "sub"}},
        {{"qar", "me"}, {"merge"}},
        {{"qar", "merge", "b.qar", "C.QAR", "-"}, {"--help", "--ignore-case", "-o"}},
        {{"qar", "merge", "b.qar", "-o", ""}, {"C.QAR", "b.qar", "my dir", "sub"}},
        // Entry names, one folder at a time, with / for \.
        {{"qar", "cat", archive, ""}, {"DATA/", "GFX/", "ROOT.TXT", "SOUND/"}},
        {{"qar", "text", archive, "DATA/"}, {"DATA/README.TXT", "DATA/TEXT/"}},
        {{"qar", "cat", archive, "DATA/TEXT/"}, {"DATA/TEXT/MY NOTE.TXT", "DATA/TEXT/WELCOME.TXT"}},
        {{"qar", "convert", "--all", archive, "GFX/"}, {"GFX/[1] $X.TGA"}},
        // The typed part as the shell reads it: escaped or quoted.
        {{"qar", "cat", archive, "DATA/TEXT/MY\\ "}, {"DATA/TEXT/MY NOTE.TXT"}},
        {{"qar", "cat", "'my dir/a.qar'", "\"DATA/TEXT/M"}, {"DATA/TEXT/MY NOTE.TXT"}},
        {{"qar", "cat", archive, "data/"}, {}},  // names match byte for byte, as qar does
        {{"qar", "cat", "missing.qar", ""}, {}},
        {{"qar", "convert", archive, "GFX/X.TGA", "n"}, {}},  // OUT: .bmp or .png files
        {{"qar", "encode", "--k"}, {"--keep-palette", "--kind"}},
        {{"qar", "encode", "p.png", "o.tga", "--kind", "tga2"}, {"tga24", "tga24rle"}},
        {{"qar", "encode", ""}, {"my dir", "sub"}},  // pictures, and folders to them
        {{"qar", "encode", "p.png", "o.tga", "--like", ""}, {"C.QAR", "b.qar", "my dir", "sub"}},
        {{"qar", "encode", "p.png", "o.tga", "--like", archive, "GFX/"}, {"GFX/[1] $X.TGA"}},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& w : c.words) line += w + " ";
        SCOPED_TRACE(line);
        EXPECT_EQ(complete(dir.path(), c.words), c.expected);
    }
}

}  // namespace
}  // namespace vorlr
