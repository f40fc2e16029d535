#include "support/TempDir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace vorlr::testing {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vorlr-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

ScopedCwd::ScopedCwd(const std::string& dir) : old_(std::filesystem::current_path().string()) {
    std::filesystem::current_path(dir);
}

ScopedCwd::~ScopedCwd() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
}

}  // namespace vorlr::testing
