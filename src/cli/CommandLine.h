#pragma once
// qar's command line on CLI11. Each command adds its own subcommand (its positionals and
// options, bound to a struct of its own) and the function that runs it once the words are
// parsed; help and usage texts keep the tool's own layout.
#include <CLI/CLI.hpp>

#include <deque>
#include <functional>
#include <string>

namespace qar {

// What `qar --help` and `qar COMMAND --help` show for a command.
struct CommandHelp {
    std::string name;
    std::string synopsis;  // "qar cat ARCHIVE NAME"
    std::string summary;   // its line in `qar --help`
    std::string details;   // more for `qar COMMAND --help` (may be empty)
};

class CommandLine {
public:
    CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // A new subcommand; run is called (outside CLI11's parsing) when it was chosen and its
    // words parsed, and returns the exit status.
    CLI::App* add(CommandHelp help, std::function<int()> run);

    // Parses the words and runs the chosen command: its exit status, 2 on wrong usage.
    int run(int argc, char** argv);

    // The texts; the main help for a name that is not a command.
    std::string helpText(const std::string& command) const;
    std::string usageText(const std::string& command) const;

private:
    struct Command {
        CommandHelp help;
        CLI::App* app;
        std::function<int()> run;
    };
    const Command* find(const std::string& name) const;
    const Command* chosen() const;

    CLI::App app_;
    std::deque<Command> commands_;
};

// -j N: CLI11's check of a number of workers (1 to 9999), and the number without -j (one per
// core this process may run on, at most 64).
std::string WorkersError(const std::string& text);
int DefaultWorkers();

// The process's command line (usage() finds the texts there).
CommandLine& TheCommandLine();

}  // namespace qar
