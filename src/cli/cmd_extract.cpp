#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "archive/SafeExtract.h"
#include "cli/Commands.h"
#include "cli/EntryLookup.h"
#include "viewers/PictureExport.h"

namespace qar {

namespace {

struct ExtractArgs {
    std::string archive;
    std::string dir = ".";
    bool keep = false;
    std::optional<vorlr::PictureFormat> convert;
    int workers = 0;  // 0: one per core
    std::vector<std::string> patterns;
};

// The value of an option given as "-x VALUE" or "-xVALUE" (also "--long VALUE" and
// "--long=VALUE"); false when a is not that option.
bool optionValue(const Args& args, size_t& i, const std::string& name, std::string& value,
                 bool& missing) {
    const std::string& a = args[i];
    const std::string joined = name.size() > 2 ? name + "=" : name;
    if (a == name) {
        missing = ++i == args.size();
        if (!missing) value = args[i];
        return true;
    }
    if (a.size() > joined.size() && a.compare(0, joined.size(), joined) == 0) {
        value = a.substr(joined.size());
        return true;
    }
    return false;
}

bool parseWorkers(const std::string& text, int& workers) {
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    workers = std::stoi(text);
    return workers >= 1;
}

bool parse(const Args& args, ExtractArgs& out) {
    bool haveArchive = false;
    bool optionsDone = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string value;
        bool missing = false;
        if (!optionsDone && a == "--") {
            optionsDone = true;
        } else if (!optionsDone && optionValue(args, i, "-o", value, missing)) {
            if (missing) return false;
            out.dir = value;
        } else if (!optionsDone && optionValue(args, i, "--convert", value, missing)) {
            if (missing || (value != "png" && value != "bmp")) return false;
            out.convert = value == "png" ? vorlr::PictureFormat::Png : vorlr::PictureFormat::Bmp;
        } else if (!optionsDone && optionValue(args, i, "-j", value, missing)) {
            if (missing || !parseWorkers(value, out.workers)) return false;
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

int defaultWorkers() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(std::min(cores, 64u));
}

}  // namespace

int cmdExtract(const Args& args) {
    ExtractArgs opts;
    if (!parse(args, opts)) return usage("extract");
    vorlr::Archive archive;
    OpenWithDirectory(archive, opts.archive);
    int status = 0;
    const std::vector<size_t> selection = selectEntries(archive, opts.patterns, status);

    ProgressLine progress;
    vorlr::ExtractOptions options;
    options.keepExisting = opts.keep;
    std::optional<vorlr::EntryConversion> conversion;
    if (opts.convert) {
        conversion = vorlr::PictureConversion(*opts.convert, opts.workers > 0 ? opts.workers : defaultWorkers());
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
    progress.summary(summary, opts.convert.has_value());
    if (summary.problems > 0) status = 1;
    return status;
}

}  // namespace qar
