#include "app/ExtractRun.h"

#include <QCoreApplication>
#include <QProgressDialog>

#include <algorithm>
#include <climits>

#include "app/WorkProgress.h"
#include "archive/SafeExtract.h"
#include "platform/gui/Dialogs.h"
#include "platform/WorkerPool.h"
#include "viewers/PictureExport.h"

namespace vorlr {

namespace {

std::string counted(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

int progressValue(size_t n) { return static_cast<int>(std::min<size_t>(n, INT_MAX)); }

std::string summaryText(const ExtractSummary& summary, const ExtractTarget& target,
                        const std::string& firstProblem) {
    std::string text = summary.cancelled ? "Extraction cancelled. " : "";
    text += "Extracted " + counted(summary.written, "file", "files") + " to " + target.folder + ".";
    if (target.convertPictures)
        text += " Converted " + counted(summary.converted, "picture", "pictures") + " to PNG.";
    if (summary.conversionFailures > 0)
        text += " " + counted(summary.conversionFailures, "picture", "pictures") +
                " could not be converted and " +
                (summary.conversionFailures == 1 ? "was" : "were") + " written as stored.";
    if (summary.kept > 0)
        text += " Kept " + counted(summary.kept, "existing file", "existing files") + ".";
    if (summary.problems > 0)
        text += " " + counted(summary.problems, "entry", "entries") + " with problems (first: " +
                firstProblem + ").";
    return text;
}

}  // namespace

void RunExtraction(QWidget* parent, WindowWork& work, const Archive& archive,
                   const std::vector<size_t>& entries, const ExtractTarget& target,
                   const std::function<void(QProgressDialog&)>& afterDispatch) {
    RunExtraction(parent, work, {ExtractGroup{&archive, entries}}, target, afterDispatch);
}

void RunExtraction(QWidget* parent, WindowWork& work, const std::vector<ExtractGroup>& groups,
                   const ExtractTarget& target,
                   const std::function<void(QProgressDialog&)>& afterDispatch) {
    size_t count = 0;
    for (const ExtractGroup& source : groups) count += source.entries.size();
    WorkProgress run(parent, work, WindowWork::Extracting, QStringLiteral("Extracting ..."),
                     progressValue(count));
    QProgressDialog& progress = run.dialog();
    run.afterDispatch = [&] {
        if (afterDispatch) afterDispatch(progress);
    };

    ExtractOptions options;
    bool haveProblem = false;
    std::string firstProblem;
    options.onEntry = [&](const ExtractNotice& n) {
        const bool problem = (n.outcome != ExtractOutcome::Written && n.outcome != ExtractOutcome::Kept) ||
                             !n.conversionError.empty();
        if (!problem || haveProblem) return;
        haveProblem = true;
        const std::string& detail = n.conversionError.empty() ? n.detail : n.conversionError;
        firstProblem = n.name + (detail.empty() ? std::string() : ": " + detail);
    };
    const EntryConversion pictures = PictureConversion(PictureFormat::Png, UsableCores());
    if (target.convertPictures) options.conversion = &pictures;
    // Small entries go by the thousand: dispatch about a thousand times a run, or after a pause
    // long enough for a Cancel click to wait on.
    const size_t step = std::max<size_t>(1, count / 1000);
    size_t before = 0;  // entries of the archives done
    options.progress = [&](size_t done, size_t total) {
        if (done % step != 0 && done != total && !run.due(100)) return true;
        progress.setValue(progressValue(before + done));
        return run.dispatch();
    };
    ExtractSummary summary;
    for (const ExtractGroup& source : groups) {
        options.writtenAs = nullptr;
        if (!source.names.empty())
            options.writtenAs = [&source](size_t k) { return source.names[k]; };
        const ExtractSummary part =
            ExtractEntries(*source.archive, source.entries, target.folder, options);
        summary.written += part.written;
        summary.kept += part.kept;
        summary.converted += part.converted;
        summary.conversionFailures += part.conversionFailures;
        summary.problems += part.problems;
        before += source.entries.size();
        if ((summary.cancelled = part.cancelled)) break;
    }
    progress.close();
    showInformationText(summaryText(summary, target, firstProblem), parent);
}

}  // namespace vorlr
