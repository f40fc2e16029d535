#pragma once
// One function per qar command. args holds the words after the command name. Each returns the
// exit status (0 ok, 1 failure, 2 wrong usage) and prints errors as "qar: MESSAGE".
#include <cstddef>
#include <string>
#include <vector>

#include "archive/ArchiveWriter.h"

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
int cmdDiff(const Args& args);
int cmdUpdate(const Args& args);
int cmdEncode(const Args& args);
int cmdReplace(const Args& args);
int cmdDelete(const Args& args);
int cmdRename(const Args& args);

// What replace stores for entry index when given file (cmd_replace.cpp).
vorlr::NewData PrepareReplacement(const vorlr::Archive& archive, size_t index,
                                  const std::string& file);

// "qar: MESSAGE" on standard error; returns status.
int fail(const std::string& message, int status = 1);
int usage(const std::string& command);  // usage text of a command to stderr, returns 2
bool wantsHelp(const Args& args);       // --help or -h among args
// Writes out to standard output once it holds a megabyte (or always, when flush); false when
// the write failed.
bool writeOutput(std::string& out, bool flush);
void printHelp(const std::string& command);  // to stdout

}  // namespace qar
