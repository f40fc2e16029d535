#include "cli/EditOutput.h"

namespace qar {

const char* const kEditDetails =
    "The new archive goes to OUT, or with --in-place over ARCHIVE (--backup keeps the old one\n"
    "as ARCHIVE.bak). Everything not changed stays byte for byte: the first 512 bytes, the\n"
    "entry order, the records' unread bytes, the bytes between entries, the data alignment.\n"
    "It is written to a temporary file beside the target, flushed and renamed over it: a\n"
    "failure leaves the target as it was and no temporary behind.";

void AddEditOptions(CLI::App& command, EditOutput& output) {
    command.add_option("-o", output.out);
    command.add_flag("--in-place", output.inPlace);
    command.add_flag("--backup", output.backup);
}

bool EditOutputValid(const EditOutput& output) {
    return output.out.empty() == output.inPlace && (!output.backup || output.inPlace);
}

vorlr::WriteTarget EditTarget(const std::string& archive, const EditOutput& output) {
    vorlr::WriteTarget target;
    target.path = output.inPlace ? archive : output.out;
    target.inPlace = output.inPlace;
    target.backup = output.backup;
    return target;
}

}  // namespace qar
