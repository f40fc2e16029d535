#pragma once
// What the writing commands share: the (-o OUT | --in-place [--backup]) options of replace,
// delete, rename and update, writing the edited archive there, and the progress line.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "archive/ArchiveWriter.h"

namespace qar {

struct EditOutput {
    std::string out;       // -o OUT
    bool inPlace = false;  // --in-place
    bool backup = false;   // --backup (only with --in-place)
};

// Adds -o OUT, --in-place and --backup to a command; EditOutputValid checks them once parsed.
void AddEditOptions(CLI::App& command, EditOutput& output);
// Exactly one of -o and --in-place, and --backup only with --in-place; EditOutputProblem says
// what is wrong ("" when nothing is).
bool EditOutputValid(const EditOutput& output);
std::string EditOutputProblem(const EditOutput& output);

// The help text that replace, delete and rename share.
extern const char* const kEditDetails;

// "qar: writing OUT 42%" on standard error when it is a terminal, redrawn at most ten times a
// second, and gone once the object is, however the write ended.
class WriteProgress {
public:
    explicit WriteProgress(const std::string& path);
    ~WriteProgress();
    WriteProgress(const WriteProgress&) = delete;
    WriteProgress& operator=(const WriteProgress&) = delete;
    void update(int64_t written, int64_t total);

private:
    std::string path_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

// Writes the edited archive to where output says (archivePath is the archive's own path), with
// a progress line on standard error when it is a terminal.
void WriteEdit(const vorlr::Archive& archive, const vorlr::ArchiveEdit& edit,
               const std::string& archivePath, const EditOutput& output);

}  // namespace qar
