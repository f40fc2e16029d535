#pragma once
// The QCoreApplication a non-GUI test needs for queued calls and timers: made once, on first
// use, unless the process already has one.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <string>

namespace vorlr::testing {

inline QCoreApplication& coreApp(const char* name) {
    static std::string appName = name;
    static int argc = 1;
    static char* argv[] = {appName.data(), nullptr};
    static QCoreApplication* a =
        QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    return a ? *a : *QCoreApplication::instance();
}

// Lets queued calls (playback notices) run.
inline void drain() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Runs the event loop until done() holds (a result from another thread), for 60 s at most.
template <class F>
bool runUntil(F done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

}  // namespace vorlr::testing
