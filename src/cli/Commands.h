#pragma once
// One file per qar command, cmd_NAME.cpp, with one function here that adds the command to the
// command line: its subcommand, positionals and options (bound to a struct of its own) and the
// function that does the work with them. The work returns the exit status (0 ok, 1 failure,
// 2 wrong usage) and prints errors as "qar: MESSAGE". See CONTRIBUTING.md, "qar commands".
#include <string>

namespace qar {

class CommandLine;

void addCatCommand(CommandLine& line);
void addCheckCommand(CommandLine& line);
void addConvertCommand(CommandLine& line);
void addDeleteCommand(CommandLine& line);
void addDiffCommand(CommandLine& line);
void addEncodeCommand(CommandLine& line);
void addExtractCommand(CommandLine& line);
void addGrepCommand(CommandLine& line);
void addInfoCommand(CommandLine& line);
void addLayersCommand(CommandLine& line);
void addListCommand(CommandLine& line);
void addMergeCommand(CommandLine& line);
void addMountCommand(CommandLine& line);
void addPackCommand(CommandLine& line);
void addRenameCommand(CommandLine& line);
void addReplaceCommand(CommandLine& line);
void addTextCommand(CommandLine& line);
void addTreeCommand(CommandLine& line);
void addUpdateCommand(CommandLine& line);

// "qar: MESSAGE" on standard error; returns status.
int fail(const std::string& message, int status = 1);
// The command's usage line ("usage: SYNOPSIS") on standard error, or the main help for a name
// that is no command, after "qar COMMAND: PROBLEM" when there is one; returns 2.
int usage(const std::string& command, const std::string& problem = {});
// Writes out to standard output once it holds a megabyte (or always, when flush); false when
// the write failed.
bool writeOutput(std::string& out, bool flush);

}  // namespace qar
