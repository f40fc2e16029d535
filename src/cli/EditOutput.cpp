#include "cli/EditOutput.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace qar {

const char* const kEditDetails =
    "The new archive goes to OUT, or with --in-place over ARCHIVE (--backup keeps the old one\n"
    "as ARCHIVE.bak). Everything not changed stays byte for byte: the first 512 bytes, the\n"
    "entry order, the records' unread bytes, the bytes between entries, the data alignment.\n"
    "It is written to a temporary file beside the target, flushed and renamed over it: a\n"
    "failure leaves the target as it was and no temporary behind. A NAME held by several\n"
    "entries (for delete: a PATTERN without *, ? or [ that matches several) is refused;\n"
    "#N picks entry N. An archive past 2147483647 bytes is refused before it is written.";

void AddEditOptions(CLI::App& command, EditOutput& output) {
    command.add_option("-o", output.out);
    command.add_flag("--in-place", output.inPlace);
    command.add_flag("--backup", output.backup);
}

bool EditOutputValid(const EditOutput& output) { return EditOutputProblem(output).empty(); }

std::string EditOutputProblem(const EditOutput& output) {
    if (!output.out.empty() && output.inPlace) return "-o and --in-place together";
    if (output.out.empty() && !output.inPlace) return "missing -o OUT or --in-place";
    if (output.backup && !output.inPlace) return "--backup without --in-place";
    return "";
}

WriteProgress::WriteProgress(const std::string& path)
    : path_(path), enabled_(::isatty(STDERR_FILENO) == 1) {}

WriteProgress::~WriteProgress() {
    if (shown_) std::fprintf(stderr, "\r\033[K");
}

void WriteProgress::update(int64_t written, int64_t total) {
    if (!enabled_ || total <= 0) return;
    const auto now = std::chrono::steady_clock::now();
    // The end always shows: the flush to disk comes after it.
    if (shown_ && written < total && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    std::fprintf(stderr, "\rqar: writing %s %d%%", path_.c_str(), static_cast<int>(written * 100 / total));
    shown_ = true;
}

void WriteEdit(const vorlr::Archive& archive, const vorlr::ArchiveEdit& edit,
               const std::string& archivePath, const EditOutput& output) {
    vorlr::WriteTarget target;
    target.path = output.inPlace ? archivePath : output.out;
    target.inPlace = output.inPlace;
    target.backup = output.backup;
    WriteProgress progress(target.path);
    target.progress = [&](int64_t written, int64_t total) { progress.update(written, total); };
    vorlr::WriteEditedArchive(archive, edit, target);
}

}  // namespace qar
