#include "cli/EditOutput.h"

namespace qar {

bool TakeEditOption(const std::vector<std::string>& args, size_t& i, EditOutput& output,
                    bool& wrong) {
    const std::string& a = args[i];
    if (a == "-o" || (a.size() > 2 && a.compare(0, 2, "-o") == 0)) {
        if (a == "-o" && ++i == args.size()) {
            wrong = true;
            return true;
        }
        if (!output.out.empty()) wrong = true;  // given twice
        output.out = a == "-o" ? args[i] : a.substr(2);
        if (output.out.empty()) wrong = true;
        return true;
    }
    if (a == "--in-place") {
        output.inPlace = true;
        return true;
    }
    if (a == "--backup") {
        output.backup = true;
        return true;
    }
    return false;
}

bool EditOutputValid(const EditOutput& output) {
    return output.out.empty() == output.inPlace && (!output.backup || output.inPlace);
}

bool ParseEditArgs(const std::vector<std::string>& args, std::vector<std::string>& words,
                   EditOutput& output) {
    bool optionsDone = false, wrong = false;
    for (size_t i = 0; i < args.size() && !wrong; ++i) {
        const std::string& a = args[i];
        if (optionsDone) {
            words.push_back(a);
        } else if (a == "--") {
            optionsDone = true;
        } else if (TakeEditOption(args, i, output, wrong)) {
            continue;
        } else if (a.size() > 1 && a[0] == '-') {
            return false;
        } else {
            words.push_back(a);
        }
    }
    return !wrong && EditOutputValid(output);
}

vorlr::WriteTarget EditTarget(const std::string& archive, const EditOutput& output) {
    vorlr::WriteTarget target;
    target.path = output.inPlace ? archive : output.out;
    target.inPlace = output.inPlace;
    target.backup = output.backup;
    return target;
}

}  // namespace qar
