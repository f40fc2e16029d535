#include "cli/EditOutput.h"

namespace qar {

bool ParseEditArgs(const std::vector<std::string>& args, std::vector<std::string>& words,
                   EditOutput& output) {
    bool optionsDone = false, haveOut = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsDone) {
            words.push_back(a);
        } else if (a == "--") {
            optionsDone = true;
        } else if (a == "-o") {
            if (++i == args.size() || haveOut) return false;
            output.out = args[i];
            haveOut = true;
        } else if (a.size() > 2 && a.compare(0, 2, "-o") == 0) {
            if (haveOut) return false;
            output.out = a.substr(2);
            haveOut = true;
        } else if (a == "--in-place") {
            output.inPlace = true;
        } else if (a == "--backup") {
            output.backup = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return false;
        } else {
            words.push_back(a);
        }
    }
    if (haveOut == output.inPlace) return false;
    if (haveOut && output.out.empty()) return false;
    return !output.backup || output.inPlace;
}

vorlr::WriteTarget EditTarget(const std::string& archive, const EditOutput& output) {
    vorlr::WriteTarget target;
    target.path = output.inPlace ? archive : output.out;
    target.inPlace = output.inPlace;
    target.backup = output.backup;
    return target;
}

}  // namespace qar
