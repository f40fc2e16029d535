#pragma once
// The Text page (tsText): reText and ShowTextEntry.
#include <QObject>

#include "app/PageContext.h"

class QTextEdit;
class QWidget;

namespace vorlr {

class TextPage : public QObject {
    Q_OBJECT
public:
    // Creates reText on tsText with its initial text.
    TextPage(QWidget* tsText, PageContext context);
    // The archive stands at the selected entry's first byte; CurrentEntrySize is set.
    void ShowTextEntry();
    QTextEdit* reText() const { return reText_; }

private:
    QWidget* tsText_;
    PageContext ctx_;
    QTextEdit* reText_ = nullptr;
};

}  // namespace vorlr
