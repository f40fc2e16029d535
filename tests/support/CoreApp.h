#pragma once
// The QCoreApplication a non-GUI test needs for queued calls and timers: made once, on first
// use, unless the process already has one.
#include <QCoreApplication>
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

}  // namespace vorlr::testing
