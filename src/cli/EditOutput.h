#pragma once
// What replace, delete and rename (and update) share: the (-o OUT | --in-place [--backup])
// options, and writing the edited archive there.
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
// Exactly one of -o and --in-place, and --backup only with --in-place.
bool EditOutputValid(const EditOutput& output);

// The help text that replace, delete and rename share.
extern const char* const kEditDetails;

// Writes the edited archive to where output says (archivePath is the archive's own path), with
// a progress line on standard error when it is a terminal.
void WriteEdit(const vorlr::Archive& archive, const vorlr::ArchiveEdit& edit,
               const std::string& archivePath, const EditOutput& output);

}  // namespace qar
