#pragma once
// Exceptions carrying the texts the user sees, and the rules for titles and message texts.
#include <stdexcept>
#include <string>

namespace vorlr {

// Base of every exception the default handler shows; what() is the text shown.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& text) : std::runtime_error(text) {}
};

// A file operation failed; code is the runtime's error code (2, 3, 4, 5, 100, 101, 106, ...).
class FileError : public Error {
public:
    explicit FileError(int code);
    int code() const noexcept { return code_; }

private:
    int code_;
};

// Runtime codes used directly by callers.
enum RuntimeCode : int {
    kFileNotFound = 2,
    kInvalidFilename = 3,
    kTooManyOpenFiles = 4,
    kAccessDenied = 5,
    kReadBeyondEof = 100,
    kDiskFull = 101,
    kInvalidNumericInput = 106,
    kNegativeSeek = 131,
};

// "File not found", "I/O error 32", ...
std::string runtimeErrorText(int code);
// errno value -> runtime code.
int runtimeCodeFromErrno(int err);
[[noreturn]] void throwFileError(int code);
[[noreturn]] void throwFromErrno(int err);
// A failed write: a full disk or quota (or too large a file) is "Disk full", the rest as above.
[[noreturn]] void throwWriteError(int err);

// Title from an executable path: file name without folder and without everything from the
// first "."; the first character as stored, the rest lower-cased.
std::string applicationTitleFor(const std::string& executablePath);
// The process-wide title (set once at start; "vorlr" until then).
const std::string& applicationTitle();
void setApplicationTitle(const std::string& title);

// Message as displayed: a "." is appended unless the text is empty or already ends with "."
// or a character whose code is below that of ".".
std::string displayedMessage(const std::string& text);

}  // namespace vorlr
