#pragma once
// The walk through Rich Text Format bytes that the RTF reader builds its document from: runs
// of text with their character settings and the paragraph ends, handed to a sink. Qt Core
// only, so that the plain text can be had without Qt Gui (qar grep searches it).
// Damaged input never crashes or hangs: nesting is capped, numbers are clamped, truncated
// escapes are dropped, and the work is linear in the input's length.
#include <map>
#include <string_view>
#include <vector>

#include <QString>
#include <qnamespace.h>

namespace vorlr {

// Deepest group nesting that keeps its own formatting; deeper groups share the last level's.
inline constexpr int kRtfMaxDepth = 1000;

struct RtfCharState {
    int font = -1;
    int halfPoints = 24;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool hidden = false;
    int vertical = 0;    // 1 superscript, -1 subscript
    int foreground = 0;  // colour table index; 0 is the automatic colour
    int background = 0;
    bool operator==(const RtfCharState&) const = default;
};

struct RtfParaState {
    Qt::Alignment alignment = Qt::AlignLeft;
    int leftIndent = 0;  // twips
    int rightIndent = 0;
    int firstIndent = 0;
    int spaceBefore = 0;
    int spaceAfter = 0;
};

struct RtfFont {
    QString name;
    int codePage = 0;  // 0: the document's
};

struct RtfColour {
    int red = 0, green = 0, blue = 0;
    bool valid = false;  // an entry without values: the automatic colour
};

// The font and colour tables as read so far.
struct RtfTables {
    std::map<int, RtfFont> fonts;
    std::vector<RtfColour> colours;
};

class RtfSink {
public:
    virtual ~RtfSink() = default;
    // A run of text under one character setting (it may hold CR, LF and U+2029 from escapes).
    virtual void text(const QString& run, const RtfCharState& state, const RtfTables& tables) = 0;
    // The paragraph in hand ends with para; the next one starts with chr.
    virtual void paragraph(const RtfParaState& para, const RtfCharState& chr, const RtfTables& tables) = 0;
    // The text ended; the last paragraph keeps para.
    virtual void finish(const RtfParaState& para) = 0;
};

// True when the bytes begin with the Rich Text Format header "{\rtf".
bool LooksLikeRtf(std::string_view bytes);

void WalkRtf(std::string_view bytes, RtfSink& sink);

// The plain text of the document the RTF reader builds from bytes, as QTextDocument's
// toPlainText gives it: paragraph and line separators as LF, no-break spaces as spaces.
QString RtfPlainText(std::string_view bytes);

}  // namespace vorlr
