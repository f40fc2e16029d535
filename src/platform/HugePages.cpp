#include "platform/HugePages.h"

#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace vorlr {
namespace {

constexpr const char* kTunables = "GLIBC_TUNABLES";
// The caller's GLIBC_TUNABLES across the restart: "=VALUE", or "-" when it had none.
constexpr const char* kCallers = "VORLR_CALLERS_TUNABLES";

constexpr bool kSanitized =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

bool kernelOffersHugePages() {
    std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string line;
    std::getline(in, line);
    return line.find("[always]") != std::string::npos || line.find("[madvise]") != std::string::npos;
}

void restore(const char* callers) {
    if (callers[0] == '=')
        ::setenv(kTunables, callers + 1, 1);
    else
        ::unsetenv(kTunables);
    ::unsetenv(kCallers);
}

}  // namespace

void StartWithHugePages(char** argv) {
#ifdef __GLIBC__
    if (const char* callers = std::getenv(kCallers)) {
        const std::string saved = callers;  // the value goes with the variable
        return restore(saved.c_str());
    }
    if (kSanitized || std::getenv("VORLR_SMALL_PAGES") || !argv || !argv[0]) return;
    const char* now = std::getenv(kTunables);
    if (now && std::strstr(now, "glibc.malloc.hugetlb")) return;
    if (!kernelOffersHugePages()) return;
    const std::string callers = now ? std::string("=") + now : std::string("-");
    const std::string tunables =
        (now && *now ? std::string(now) + ":" : std::string()) + "glibc.malloc.hugetlb=1";
    if (::setenv(kCallers, callers.c_str(), 1) != 0 || ::setenv(kTunables, tunables.c_str(), 1) != 0)
        return restore(callers.c_str());
    ::execv("/proc/self/exe", argv);
    restore(callers.c_str());  // not started again: on as before
#else
    (void)argv;
#endif
}

void KeepFreedMemory() {
#ifdef __GLIBC__
    if (kSanitized) return;
    // 32 MiB is the most glibc takes for the threshold; blocks past it are still mapped alone.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
}

}  // namespace vorlr
