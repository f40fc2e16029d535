#pragma once
// The viewer's command line: vorlr [FILE], vorlr --help, vorlr --version. It is read before
// the application object exists, so that the answers need no display.
#include <string>
#include <vector>

namespace vorlr {

class TForm1;

struct CommandLine {
    bool exit = false;    // answered (help, version, wrong usage): no window
    int exitStatus = 0;   // 0, or 2 for wrong usage
    std::string message;  // for standard output when exitStatus is 0, else standard error
    std::string file;     // the archive to open at start, made absolute; empty for none
};

// args: the words after the program name. A relative FILE is taken against the current
// directory (whose failure raises the runtime's error).
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// name against directory. The leading ".." of a relative name are taken off the directory,
// which is exact for a directory without symbolic links such as getcwd() gives; "." and empty
// segments are dropped. An absolute name stays as it is.
std::string AbsoluteFileName(const std::string& name, const std::string& directory);

// Opens file once the event loop runs, as Browse does after its dialog: validated, merged
// into the archive list, selected and loaded. Errors end in the default handler.
void OpenAtStart(TForm1& form, const std::string& file);

}  // namespace vorlr
