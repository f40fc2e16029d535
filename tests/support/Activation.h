#pragma once
// Window activation as the program meets it on the offscreen platform, which hands the focus
// back to no window by itself.
#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QTest>
#include <QWidget>

namespace vorlr::testing {

// Makes the window the active one (showing it first) and lets queued handlers run.
inline bool makeActive(QWidget& window) {
    if (!window.isVisible()) window.show();
    QApplication::setActiveWindow(&window);
    const bool active = QTest::qWaitForWindowActive(&window);
    QCoreApplication::processEvents();
    return active;
}

// The window takes the focus back from a message box of the program, shown over it and closed.
inline bool returnFromMessageBox(QWidget& window) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("vorlr"), QStringLiteral("note"),
                    QMessageBox::Ok, &window);
    box.show();
    const bool boxActive = makeActive(box);
    box.close();
    return boxActive && makeActive(window);
}

// Another program takes the focus from the whole application.
inline void deactivateApplication() {
    QApplication::setActiveWindow(nullptr);
    QCoreApplication::processEvents();
}

}  // namespace vorlr::testing
