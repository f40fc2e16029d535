#include "cli/CommandLine.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <vector>

#include "cli/Commands.h"
#include "platform/WorkerPool.h"

namespace qar {

namespace {

CommandLine* theCommandLine = nullptr;

// CLI11's help output in the tool's own layout, so that app.help() and `--help` agree.
class HelpFormatter final : public CLI::FormatterBase {
public:
    explicit HelpFormatter(const CommandLine& line) : line_(line) {}
    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
        return line_.helpText(app->get_parent() ? app->get_name() : std::string());
    }

private:
    const CommandLine& line_;
};

// CLI11 reads a word "[a,b]" given to a list of values as the list's own notation (the words a
// and b); a glob like "[ab]" would lose its brackets. Such words get this mark at their end
// before parsing, and every value loses it again.
constexpr char kAsTyped = '\x1F';

std::string padded(const std::string& text, size_t width) {
    return text + std::string(text.size() < width ? width - text.size() : 0, ' ');
}

// CLI11's parse errors in the tool's words ("missing FILE", "unknown option --force").
std::string usageProblem(const CLI::ParseError& e) {
    const std::string what = e.what();
    const auto after = [&what](const std::string& head) {
        return what.rfind(head, 0) == 0 ? what.substr(head.size()) : std::string();
    };
    if (dynamic_cast<const CLI::RequiredError*>(&e)) {
        const size_t end = what.find(" is required");
        if (end != std::string::npos) return "missing " + what.substr(0, end);
        return what;
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
        std::string words = after("The following argument was not expected: ");
        if (words.empty()) words = after("The following arguments were not expected: ");
        if (words.empty()) return "unexpected words";
        std::string text = words.front() == '-' ? "unknown option " : "unexpected word ";
        for (char ch : words) text += ch == kAsTyped ? std::string() : std::string(1, ch);
        return text;
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) {
        const size_t colon = what.find(':');
        if (colon != std::string::npos && what.find("missing", colon) != std::string::npos)
            return what.substr(0, colon) + " needs a value";
        return what;
    }
    return what;  // a check's own text, as "-j: N must be a number from 1"
}

}  // namespace

CommandLine& TheCommandLine() { return *theCommandLine; }

CommandLine::CommandLine() : app_("read and edit Vorlund packed archives (.qar)", "qar") {
    theCommandLine = this;
    app_.formatter(std::make_shared<HelpFormatter>(*this));
    app_.set_help_flag("-h,--help");
    app_.set_version_flag("--version", std::string("qar ") + VORLR_VERSION);
    // One command a run: a later word that names a command is a value of the first one.
    app_.require_subcommand(0, 1);
    // `qar help` as `qar --help`, whatever follows; not listed.
    app_.add_subcommand("help")->group("")->allow_extras()->parse_complete_callback(
        [] { throw CLI::CallForHelp(); });
}

CLI::App* CommandLine::add(CommandHelp help, std::function<int()> run) {
    CLI::App* sub = app_.add_subcommand(help.name, help.summary);
    commands_.push_back({std::move(help), sub, std::move(run)});
    return sub;
}

const CommandLine::Command* CommandLine::find(const std::string& name) const {
    for (const Command& c : commands_)
        if (c.help.name == name) return &c;
    return nullptr;
}

const CommandLine::Command* CommandLine::chosen() const {
    for (const Command& c : commands_)
        if (c.app->parsed()) return &c;
    return nullptr;
}

std::string CommandLine::helpText(const std::string& command) const {
    if (const Command* c = find(command)) {
        std::string text = "usage: " + c->help.synopsis + "\n" + c->help.summary + "\n";
        if (!c->help.details.empty()) text += "\n" + c->help.details + "\n";
        return text;
    }
    std::vector<const Command*> sorted;
    for (const Command& c : commands_) sorted.push_back(&c);
    std::sort(sorted.begin(), sorted.end(),
              [](const Command* a, const Command* b) { return a->help.name < b->help.name; });
    std::string text = "qar - read and edit Vorlund packed archives (.qar)\n\nusage:\n";
    const auto line = [&text](const std::string& synopsis, const std::string& summary) {
        if (synopsis.size() <= 50)
            text += "  " + padded(synopsis, 50) + " " + summary + "\n";
        else
            text += "  " + synopsis + "\n  " + padded("", 50) + " " + summary + "\n";
    };
    for (const Command* c : sorted) line(c->help.synopsis, c->help.summary);
    line("qar --help | qar COMMAND --help | qar --version",
         "this help, a command's help, the version");
    text +=
        "\nNAME is an entry's full stored name (DATA\\README.TXT, or DATA/README.TXT);\n"
        "#N names entry N (0-based). Errors go to standard error; exit status 1 on\n"
        "failure, 2 on wrong usage.\n";
    return text;
}

std::string CommandLine::usageText(const std::string& command) const {
    if (const Command* c = find(command)) return "usage: " + c->help.synopsis + "\n";
    return helpText("");
}

int CommandLine::run(int argc, char** argv) {
    std::vector<std::string> words;  // in reverse, as CLI11 takes them
    for (int i = argc - 1; i >= 1; --i) {
        std::string w = argv[i];
        if (w.size() >= 2 && w.front() == '[' && w.back() == ']') w += kAsTyped;
        words.push_back(std::move(w));
    }
    const auto unmark = [](std::string value) {
        if (!value.empty() && value.back() == kAsTyped) value.pop_back();
        return value;
    };
    for (const Command& c : commands_)
        for (CLI::Option* option : c.app->get_options()) option->transform(unmark);
    try {
        app_.parse(words);
    } catch (const CLI::CallForHelp&) {
        // `qar --help COMMAND` is the main help; `qar COMMAND --help` the command's.
        const Command* c = app_.get_help_ptr()->count() > 0 ? nullptr : chosen();
        std::fputs(helpText(c ? c->help.name : std::string()).c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion& e) {
        std::printf("%s\n", e.what());
        return 0;
    } catch (const CLI::ParseError& e) {
        // CLI11's own texts are not shown: what is wrong in the tool's words, then the usage.
        const Command* c = chosen();
        if (c) return usage(c->help.name, usageProblem(e));
        if (argc >= 2) {
            const std::string word = argv[1];
            std::fprintf(stderr, "qar: unknown %s '%s' (see qar --help)\n",
                         word.rfind('-', 0) == 0 ? "option" : "command", word.c_str());
        }
        return usage("");
    }
    const Command* c = chosen();
    if (!c) return usage("");
    try {
        return c->run();
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

std::string WorkersError(const std::string& text) {
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(text) < 1)
        return "N must be a number from 1";
    return "";
}

int DefaultWorkers() { return std::min(vorlr::UsableCores(), 64); }

}  // namespace qar
