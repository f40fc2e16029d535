#include "platform/gui/Application.h"

#include "platform/gui/Dialogs.h"
#include "platform/Errors.h"

namespace vorlr {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    if (argc > 0 && argv[0]) setApplicationTitle(applicationTitleFor(argv[0]));
    QApplication::setApplicationName(QString::fromStdString(applicationTitle()));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        showException(e);
    } catch (...) {
        showException(std::runtime_error("Unknown exception"));
    }
    return false;
}

}  // namespace vorlr
