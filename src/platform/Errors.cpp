#include "platform/Errors.h"

#include <cerrno>
#include <cstdio>

#include "platform/Text.h"

namespace vorlr {

FileError::FileError(int code) : Error(runtimeErrorText(code)), code_(code) {}

std::string runtimeErrorText(int code) {
    switch (code) {
    case 2: return "File not found";
    case 3: return "Invalid filename";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 100: return "Read beyond end of file";
    case 101: return "Disk full";
    case 106: return "Invalid numeric input";
    default: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "I/O error %d", code);
        return buf;
    }
    }
}

int runtimeCodeFromErrno(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR: return kFileNotFound;
    case ENAMETOOLONG: return kInvalidFilename;
    case EMFILE:
    case ENFILE: return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return kAccessDenied;
    default: return err;
    }
}

void throwFileError(int code) { throw FileError(code); }
void throwFromErrno(int err) { throw FileError(runtimeCodeFromErrno(err)); }

void throwWriteError(int err) {
    if (err == ENOSPC || err == EFBIG || err == EDQUOT) throwFileError(kDiskFull);
    throwFromErrno(err);
}

static std::string& titleStorage() {
    static std::string title = "vorlr";
    return title;
}

std::string applicationTitleFor(const std::string& executablePath) {
    std::string name = executablePath;
    if (auto slash = name.find_last_of("/\\"); slash != std::string::npos) name.erase(0, slash + 1);
    if (auto dot = name.find('.'); dot != std::string::npos) name.erase(dot);
    for (size_t i = 1; i < name.size(); ++i) name[i] = lowerAZ(name[i]);
    return name;
}

const std::string& applicationTitle() { return titleStorage(); }
void setApplicationTitle(const std::string& title) { titleStorage() = title; }

std::string displayedMessage(const std::string& text) {
    if (text.empty()) return text;
    const auto last = static_cast<unsigned char>(text.back());
    if (last <= static_cast<unsigned char>('.')) return text;
    return text + ".";
}

}  // namespace vorlr
