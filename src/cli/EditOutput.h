#pragma once
// What replace, delete and rename (and update) share: the (-o OUT | --in-place [--backup])
// options, and writing the edited archive there.
#include <string>
#include <vector>

#include "archive/ArchiveWriter.h"

namespace qar {

struct EditOutput {
    std::string out;       // -o OUT
    bool inPlace = false;  // --in-place
    bool backup = false;   // --backup (only with --in-place)
};

// Takes args[i] (and the value after it, moving i on) when it is -o OUT, -oOUT, --in-place or
// --backup; false for any other word. Sets wrong for -o without a value or given twice.
bool TakeEditOption(const std::vector<std::string>& args, size_t& i, EditOutput& output,
                    bool& wrong);
// Exactly one of -o and --in-place, and --backup only with --in-place.
bool EditOutputValid(const EditOutput& output);

// Splits args into words and the output options; "--" ends the options. False on wrong usage:
// an unknown option, -o without a value, neither or both of -o and --in-place, --backup
// without --in-place.
bool ParseEditArgs(const std::vector<std::string>& args, std::vector<std::string>& words,
                   EditOutput& output);

// The writer's target for archive.
vorlr::WriteTarget EditTarget(const std::string& archive, const EditOutput& output);

}  // namespace qar
