#include "app/MediaPage.h"

#include <QTimer>

namespace vorlr {

MediaPage::MediaPage(QWidget* tsMedia, PageContext context) : tsMedia_(tsMedia), ctx_(context) {
    tmMedia_ = new QTimer(this);
    tmMedia_->setObjectName(QStringLiteral("tmMedia"));
    tmMedia_->setInterval(100);
}

MediaPage::~MediaPage() = default;

void MediaPage::ShowSoundEntry() {}  // placeholder until sound lands

}  // namespace vorlr
