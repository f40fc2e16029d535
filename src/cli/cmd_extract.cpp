#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/SafeExtract.h"
#include "cli/Commands.h"
#include "cli/EntryLookup.h"

namespace qar {

namespace {

struct ExtractArgs {
    std::string archive;
    std::string dir = ".";
    bool keep = false;
    std::vector<std::string> patterns;
};

bool parse(const Args& args, ExtractArgs& out) {
    bool haveArchive = false;
    bool optionsDone = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsDone && a == "--") {
            optionsDone = true;
        } else if (!optionsDone && a == "-o") {
            if (++i == args.size()) return false;
            out.dir = args[i];
        } else if (!optionsDone && a.size() > 2 && a.compare(0, 2, "-o") == 0) {
            out.dir = a.substr(2);
        } else if (!optionsDone && a == "--keep") {
            out.keep = true;
        } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
            return false;
        } else if (!haveArchive) {
            out.archive = a;
            haveArchive = true;
        } else {
            out.patterns.push_back(a);
        }
    }
    return haveArchive && !out.dir.empty();
}

// A progress line on standard error, redrawn at most ten times a second.
class ProgressLine {
public:
    ProgressLine() : enabled_(::isatty(STDERR_FILENO) == 1) {}
    bool update(size_t done, size_t total) {
        if (!enabled_) return true;
        const auto now = std::chrono::steady_clock::now();
        if (done != total && now - last_ < std::chrono::milliseconds(100)) return true;
        last_ = now;
        std::fprintf(stderr, "\rqar: extracting %zu/%zu", done, total);
        shown_ = true;
        return true;
    }
    void clear() {
        if (shown_) std::fprintf(stderr, "\r\033[K");
        shown_ = false;
    }

private:
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

std::string label(const vorlr::ExtractNotice& n) {
    std::string out = "#";
    out += std::to_string(n.index);
    out += ' ';
    out += n.name;
    return out;
}

}  // namespace

int cmdExtract(const Args& args) {
    ExtractArgs opts;
    if (!parse(args, opts)) return usage("extract");
    vorlr::Archive archive;
    OpenWithDirectory(archive, opts.archive);

    int status = 0;
    std::vector<size_t> selection;
    std::vector<bool> patternUsed(opts.patterns.size(), false);
    for (size_t i = 0; i < archive.entryCount(); ++i) {
        bool wanted = opts.patterns.empty();
        for (size_t p = 0; p < opts.patterns.size(); ++p) {
            if (vorlr::MatchEntryPattern(opts.patterns[p], archive.entry(i).name)) {
                wanted = true;
                patternUsed[p] = true;
            }
        }
        if (wanted) selection.push_back(i);
    }
    for (size_t p = 0; p < opts.patterns.size(); ++p) {
        if (!patternUsed[p]) {
            fail("no entry matches " + opts.patterns[p]);
            status = 1;
        }
    }

    ProgressLine progress;
    vorlr::ExtractOptions options;
    options.keepExisting = opts.keep;
    options.progress = [&progress](size_t done, size_t total) { return progress.update(done, total); };
    options.onEntry = [&](const vorlr::ExtractNotice& n) {
        using vorlr::ExtractOutcome;
        const auto warn = [&](const std::string& message) {
            progress.clear();
            fail(label(n) + ": " + message);
        };
        switch (n.outcome) {
        case ExtractOutcome::Written:
        case ExtractOutcome::Truncated:
            if (n.replacedIndex)
                warn("overwrites " + n.path + " written from #" + std::to_string(*n.replacedIndex));
            if (n.outcome == ExtractOutcome::Truncated) warn(n.detail);
            break;
        case ExtractOutcome::Kept: warn("kept the existing " + n.path); break;
        case ExtractOutcome::UnsafeName:
        case ExtractOutcome::Blocked: warn("skipped, " + n.detail); break;
        case ExtractOutcome::Failed: warn(n.detail); break;
        }
    };
    struct ClearOnExit {
        ProgressLine& p;
        ~ClearOnExit() { p.clear(); }
    } clearOnExit{progress};
    const vorlr::ExtractSummary summary =
        vorlr::ExtractEntries(archive, selection, opts.dir, options);
    if (summary.problems > 0) status = 1;
    return status;
}

}  // namespace qar
