#include "app/TextPage.h"

#include <QTextEdit>

namespace vorlr {

TextPage::TextPage(QWidget* tsText, PageContext context) : tsText_(tsText), ctx_(context) {
    reText_ = new QTextEdit(tsText);
    reText_->setObjectName(QStringLiteral("reText"));
    reText_->setGeometry(0, 0, 561, 491);
}

void TextPage::ShowTextEntry() {}  // placeholder until the text viewer lands

}  // namespace vorlr
