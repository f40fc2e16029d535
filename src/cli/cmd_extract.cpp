#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "archive/SafeExtract.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EntryLookup.h"
#include "viewers/PictureExport.h"

namespace qar {

namespace {

struct ExtractArgs {
    std::string archive;
    std::string dir = ".";
    bool keep = false;
    std::string convert;  // "png", "bmp" or empty
    std::string workers;  // empty: one per core
    std::vector<std::string> patterns;
};

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
    // On a terminal, what the run did, on the progress line's place.
    void summary(const vorlr::ExtractSummary& s, bool converting) {
        if (!enabled_) return;
        clear();
        std::fprintf(stderr, "qar: %zu files written", s.written);
        if (converting) std::fprintf(stderr, ", %zu pictures converted", s.converted);
        if (s.kept > 0) std::fprintf(stderr, ", %zu kept", s.kept);
        if (s.problems > 0) std::fprintf(stderr, ", %zu problems", s.problems);
        std::fprintf(stderr, "\n");
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

// The entries the patterns select, in directory order (all without a pattern); a pattern that
// matches nothing is reported and makes the status 1.
std::vector<size_t> selectEntries(const vorlr::Archive& archive,
                                  const std::vector<std::string>& patterns, int& status) {
    PatternFilter filter(patterns);
    std::vector<size_t> selection;
    for (size_t i = 0; i < archive.entryCount(); ++i)
        if (filter.wants(archive.entry(i).name)) selection.push_back(i);
    if (filter.reportUnmatched()) status = 1;
    return selection;
}

// One line for each file that was not written as asked.
void warnAbout(const vorlr::ExtractNotice& n, ProgressLine& progress) {
    using vorlr::ExtractOutcome;
    const auto warn = [&](const std::string& message) {
        progress.clear();
        fail(label(n) + ": " + message);
    };
    if (!n.conversionError.empty()) {
        progress.clear();
        fail(n.name + ": " + n.conversionError);
    }
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
}

int runExtract(const ExtractArgs& opts) {
    vorlr::Archive archive;
    OpenWithDirectory(archive, opts.archive);
    int status = 0;
    const std::vector<size_t> selection = selectEntries(archive, opts.patterns, status);

    ProgressLine progress;
    vorlr::ExtractOptions options;
    options.keepExisting = opts.keep;
    std::optional<vorlr::EntryConversion> conversion;
    if (!opts.convert.empty()) {
        const auto format = opts.convert == "png" ? vorlr::PictureFormat::Png : vorlr::PictureFormat::Bmp;
        conversion = vorlr::PictureConversion(
            format, opts.workers.empty() ? DefaultWorkers() : std::stoi(opts.workers));
        options.conversion = &*conversion;
    }
    options.progress = [&progress](size_t done, size_t total) { return progress.update(done, total); };
    options.onEntry = [&](const vorlr::ExtractNotice& n) { warnAbout(n, progress); };
    struct ClearOnExit {
        ProgressLine& p;
        ~ClearOnExit() { p.clear(); }
    } clearOnExit{progress};
    const vorlr::ExtractSummary summary =
        vorlr::ExtractEntries(archive, selection, opts.dir, options);
    progress.summary(summary, !opts.convert.empty());
    if (summary.problems > 0) status = 1;
    return status;
}

}  // namespace

void addExtractCommand(CommandLine& line) {
    auto o = std::make_shared<ExtractArgs>();
    CLI::App* cmd = line.add(
        {"extract", "qar extract ARCHIVE [-o DIR] [--keep] [--convert png|bmp] [-j N] [PATTERN...]",
         "entries to files under DIR (default .)",
         "With --convert every .kmg and .tga entry is written as pictures: NAME.png, or\n"
         "NAME_0.png, NAME_1.png, ... for the sub-images of a palette KMG, decoded on N\n"
         "workers (-j, default one per core). A picture that cannot be decoded is reported\n"
         "as \"qar: NAME: MESSAGE\" and written as stored; the exit status is then 1."},
        [o] { return runExtract(*o); });
    cmd->add_option("ARCHIVE", o->archive)->required();
    cmd->add_option("PATTERN", o->patterns);
    // A repeated option takes its last value, as it always has.
    const auto last = CLI::MultiOptionPolicy::TakeLast;
    cmd->add_option("-o", o->dir)->multi_option_policy(last)->check([](const std::string& dir) {
        return dir.empty() ? std::string("DIR must not be empty") : std::string();
    });
    cmd->add_option("--convert", o->convert)->multi_option_policy(last)->check(
        CLI::IsMember({"png", "bmp"}));
    cmd->add_option("-j", o->workers)->multi_option_policy(last)->check(WorkersError);
    cmd->add_flag("--keep", o->keep);
}

}  // namespace qar
