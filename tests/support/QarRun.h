#pragma once
// Runs the qar binary the way a user would, for the command-line tests.
#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace vorlr::testing {

struct QarResult {
    int status = -1;  // exit status; 128 + signal when killed
    std::string out;
    std::string err;
};

// Runs argv (the program first), standard output and error captured; in workDir when one is
// given.
QarResult runProgram(std::vector<std::string> argv, const std::string& workDir = {});

// A command's output as its lines, sorted (for outputs whose order is another's business).
inline std::vector<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

#ifdef VORLR_QAR_PATH
// Each test executable is told where its qar binary is; the support library is not.
inline QarResult runQar(std::vector<std::string> args, const std::string& workDir = {}) {
    args.insert(args.begin(), VORLR_QAR_PATH);
    return runProgram(std::move(args), workDir);
}
#endif

}  // namespace vorlr::testing
