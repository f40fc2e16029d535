#pragma once
// Ends the process once everything of ours is torn down, without the libraries' own exit-time
// teardown. Qt's PulseAudio engine, freed among the static objects at exit, now and then
// aborts inside libpulse ("m->io_events_please_scan == 0", or a late answer for a stream just
// closed) after a sound has played: the program's work was done, but the run ended in a crash.
#include <unistd.h>

#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
#define VORLR_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORLR_LEAK_CHECK 1
#endif
#endif
#ifdef VORLR_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace vorlr {

[[noreturn]] inline void ExitSkippingAudioTeardown(int status) {
#ifdef VORLR_LEAK_CHECK
    __lsan_do_leak_check();  // still reported: it normally runs at exit
#endif
    const bool flushed = std::fflush(nullptr) == 0;
    ::_exit(flushed || status != 0 ? status : 1);
}

}  // namespace vorlr
