#pragma once
// A fresh temporary folder per test, removed afterwards; optionally the current directory.
#include <string>

namespace vorlr::testing {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Makes a folder the current directory for its lifetime.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::string& dir);
    ~ScopedCwd();

private:
    std::string old_;
};

}  // namespace vorlr::testing
