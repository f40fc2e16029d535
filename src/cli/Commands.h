#pragma once
// One function per qar command. args holds the words after the command name. Each returns the
// exit status (0 ok, 1 failure, 2 wrong usage) and prints errors as "qar: MESSAGE".
#include <string>
#include <vector>

namespace qar {

using Args = std::vector<std::string>;

int cmdInfo(const Args& args);
int cmdList(const Args& args);
int cmdTree(const Args& args);
int cmdCat(const Args& args);
int cmdText(const Args& args);
int cmdConvert(const Args& args);
int cmdExtract(const Args& args);
int cmdCheck(const Args& args);
int cmdPack(const Args& args);
int cmdMount(const Args& args);

// "qar: MESSAGE" on standard error; returns status.
int fail(const std::string& message, int status = 1);
int usage(const std::string& command);  // usage text of a command to stderr, returns 2
bool wantsHelp(const Args& args);       // --help or -h among args
// Writes out to standard output once it holds a megabyte (or always, when flush); false when
// the write failed.
bool writeOutput(std::string& out, bool flush);
void printHelp(const std::string& command);  // to stdout

}  // namespace qar
