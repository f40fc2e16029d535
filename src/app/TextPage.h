#pragma once
// The Text page (tsText): reText and ShowTextEntry.
#include <QObject>
#include <string>
#include <string_view>

#include "app/PageContext.h"
#include "viewers/TextConvert.h"  // normaliseLineBreaks

class QTextEdit;
class QWidget;

namespace vorlr {

class TextPage : public QObject {
    Q_OBJECT
public:
    // Creates reText on tsText with its initial text.
    TextPage(QWidget* tsText, PageContext context);
    // The archive stands at the selected entry's first byte; CurrentEntrySize is set.
    // Copies the entry to TEMP.TXT, turns UTF-16 text into 8-bit text, sets the type in the
    // status bar and shows the file. File failures raise; the caller's handler reports them.
    void ShowTextEntry();
    QTextEdit* reText() const { return reText_; }

    // Replaces reText's content with the file: RTF when it begins with the RTF header, else
    // plain Windows-1252 text with CR LF, LF and CR all as line breaks. An unreadable file
    // raises Error("Failed to Load Stream").
    void loadFile(const std::string& path);

    static const char* const kInitialText;

private:
    QWidget* tsText_;
    PageContext ctx_;
    QTextEdit* reText_ = nullptr;
};

}  // namespace vorlr
