#pragma once
// Files dropped on a widget as a file manager drops them: enter, a move, then the drop, all as
// real drag events; whileOver runs between the move and the drop (what the drag shows).
#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <functional>
#include <string>
#include <vector>

namespace vorlr::testing {

inline bool dropFiles(QWidget* target, QPoint at, const std::vector<std::string>& paths,
                      const std::function<void()>& whileOver = {}) {
    QMimeData data;
    QList<QUrl> urls;
    for (const auto& p : paths) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(p)));
    data.setUrls(urls);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    if (whileOver) whileOver();
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    QCoreApplication::processEvents();
    return drop.isAccepted();
}

}  // namespace vorlr::testing
