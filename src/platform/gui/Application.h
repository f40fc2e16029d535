#pragma once
// The application object: its notify() is the last-resort default handler, so an exception
// escaping any handler ends in one message box and the program carries on.
#include <QApplication>

namespace vorlr {

class Application : public QApplication {
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace vorlr
