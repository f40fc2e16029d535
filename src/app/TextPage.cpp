#include "app/TextPage.h"

#include <QFont>
#include <QTextDocument>
#include <QTextEdit>

#include "platform/Errors.h"
#include "platform/RuntimeFile.h"
#include "platform/Text.h"
#include "viewers/richtext/RtfReader.h"
#include "viewers/TextConvert.h"

namespace vorlr {

namespace {
constexpr int kLinesPerBlock = 64;
}

const char* const TextPage::kInitialText =
    "Vorlund - Resource File\n"
    "-----------------------------------------\n"
    "Version: 1.0 (Build 3326)\n"
    "- Support text files: *.TXT, *.INI\n"
    "- Support image files: *.TGA, *.KMG\n"
    "- Support media files: *.WAV, *.MP3 \n"
    "\n"
    "How to use the program:\n"
    "Use the [Browse] button to locate and open vorlund files with extension QAR.\n"
    "A list will be created at the left side of the screen.\n"
    "Select the supported files and you can view / hear what's in it.";

TextPage::TextPage(QWidget* tsText, PageContext context) : tsText_(tsText), ctx_(context) {
    reText_ = new QTextEdit(tsText);
    reText_->setObjectName(QStringLiteral("reText"));
    reText_->setGeometry(0, 0, 561, 491);
    reText_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    reText_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    reText_->setLineWrapMode(QTextEdit::WidgetWidth);
    // Shown, not edited: Save renames the scratch file, so edits would never be kept.
    reText_->setReadOnly(true);
    reText_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // Text that needs no shaping (Latin script, the usual case here) skips the shaper: long
    // files lay out about three times faster, at the price of kerning.
    QFont font;
    font.setStyleStrategy(QFont::PreferNoShaping);
    reText_->setFont(font);
    reText_->setPlainText(QString::fromLatin1(kInitialText));
}

void TextPage::ShowTextEntry() {
    ViewerState& state = ctx_.state;
    ctx_.pageControl.setCurrentWidget(tsText_);
    ExtractEntry(state, "TEMP.TXT");
    // Only the first byte is looked at; after an empty entry it is still the previous one's.
    if (state.HeadBytes[0] == 0xFF) {
        ConvertUnicodeFile(state.TempFileName, state.WorkBuffer);
        ctx_.statusBar.setPanelText(3, "Type: Unicode text file");
    } else {
        ctx_.statusBar.setPanelText(3, "Type: Simple text file");
    }
    reText_->clear();
    loadFile(state.TempFileName);
}

void TextPage::loadFile(const std::string& path) {
    std::string bytes;
    try {
        RuntimeFile file;
        file.openExisting(path, RuntimeFile::Access::ReadOnly);
        const int64_t size = file.size();
        bytes.resize(static_cast<size_t>(size));
        bytes.resize(static_cast<size_t>(file.readCounted(bytes.data(), size)));
    } catch (const std::exception&) {
        throw Error("Failed to Load Stream");
    }
    QTextDocument* doc = reText_->document();
    if (LooksLikeRtf(bytes)) {
        ReadRtf(bytes, *doc);
    } else {
        const bool undo = doc->isUndoRedoEnabled();
        doc->setUndoRedoEnabled(false);
        // Lines go into the document in paragraphs of kLinesPerBlock, joined by line
        // separators: a fraction of the block insertions for a long file, and the same text
        // shown, selected and copied.
        QString text = fromCp1252(normaliseLineBreaks(bytes));
        int lines = 0;
        for (QChar& c : text)
            if (c == u'\n' && ++lines % kLinesPerBlock != 0) c = QChar::LineSeparator;
        doc->setPlainText(text);
        doc->setUndoRedoEnabled(undo);
    }
}

}  // namespace vorlr
