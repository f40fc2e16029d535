#include "viewers/richtext/RtfReader.h"

#include <QColor>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include "viewers/rtf/RtfWalk.h"

namespace vorlr {

namespace {

constexpr double kTwipsPerPixel = 15.0;  // 1440 twips per inch, 96 pixels per inch

// The walk's runs and paragraphs as the document's text, formats and blocks.
class DocumentSink final : public RtfSink {
public:
    explicit DocumentSink(QTextDocument& doc) : cursor_(&doc) { cursor_.beginEditBlock(); }

    void text(const QString& run, const RtfCharState& state, const RtfTables& tables) override {
        cursor_.insertText(run, charFormat(state, tables));
    }
    void paragraph(const RtfParaState& para, const RtfCharState& chr, const RtfTables& tables) override {
        cursor_.setBlockFormat(blockFormat(para));
        cursor_.insertBlock(blockFormat(para), charFormat(chr, tables));
    }
    void finish(const RtfParaState& para) override {
        cursor_.setBlockFormat(blockFormat(para));
        cursor_.endEditBlock();
    }

private:
    static QColor colour(const RtfTables& tables, int index) {
        if (index <= 0 || index >= static_cast<int>(tables.colours.size())) return {};
        const RtfColour& c = tables.colours[static_cast<size_t>(index)];
        return c.valid ? QColor(c.red, c.green, c.blue) : QColor();
    }

    static QTextCharFormat charFormat(const RtfCharState& s, const RtfTables& tables) {
        QTextCharFormat f;
        auto font = tables.fonts.find(s.font);
        if (font != tables.fonts.end()) f.setFontFamilies({font->second.name});
        f.setFontPointSize(s.halfPoints / 2.0);
        f.setFontWeight(s.bold ? QFont::Bold : QFont::Normal);
        f.setFontItalic(s.italic);
        f.setFontUnderline(s.underline);
        f.setFontStrikeOut(s.strike);
        if (s.vertical != 0)
            f.setVerticalAlignment(s.vertical > 0 ? QTextCharFormat::AlignSuperScript
                                                  : QTextCharFormat::AlignSubScript);
        if (const QColor c = colour(tables, s.foreground); c.isValid()) f.setForeground(c);
        if (const QColor c = colour(tables, s.background); c.isValid()) f.setBackground(c);
        return f;
    }

    static QTextBlockFormat blockFormat(const RtfParaState& p) {
        QTextBlockFormat f;
        f.setAlignment(p.alignment);
        f.setLeftMargin(p.leftIndent / kTwipsPerPixel);
        f.setRightMargin(p.rightIndent / kTwipsPerPixel);
        f.setTextIndent(p.firstIndent / kTwipsPerPixel);
        f.setTopMargin(p.spaceBefore / kTwipsPerPixel);
        f.setBottomMargin(p.spaceAfter / kTwipsPerPixel);
        return f;
    }
    QTextCursor cursor_;
};

}  // namespace

void ReadRtf(std::string_view bytes, QTextDocument& document) {
    const bool undo = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    document.clear();
    DocumentSink sink(document);
    WalkRtf(bytes, sink);
    document.setUndoRedoEnabled(undo);
}

}  // namespace vorlr
