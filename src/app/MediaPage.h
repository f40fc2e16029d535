#pragma once
// The Media page (tsMedia): sbMedia, MediaPlayer1, tbMedia, tmMedia, ShowSoundEntry.
#include <QObject>

#include "app/PageContext.h"

class QTimer;
class QWidget;

namespace vorlr {

class MediaPage : public QObject {
    Q_OBJECT
public:
    // Creates the page's controls; MediaPlayer1's width becomes 151.
    MediaPage(QWidget* tsMedia, PageContext context);
    ~MediaPage() override;
    void ShowSoundEntry();
    QTimer* tmMedia() const { return tmMedia_; }

private:
    QWidget* tsMedia_;
    PageContext ctx_;
    QTimer* tmMedia_ = nullptr;
};

}  // namespace vorlr
