#include "viewers/rtf/RtfWalk.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <string>
#include <vector>


#include "viewers/rtf/CodePages.h"

namespace vorlr {

namespace {

// Numbers in control words are clamped here; nothing we read needs more.
constexpr int64_t kNumberLimit = 1'000'000'000;
constexpr int kMaxHalfPoints = 3276;   // 1638 points
constexpr int kMaxTwips = 31680;       // 22 inches
constexpr int kMaxUnicodeSkip = 16;

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

enum class Destination { Text, FontTable, ColourTable, Skip };

struct GroupState {
    RtfCharState chr;
    RtfParaState para;
    Destination destination = Destination::Text;
    int unicodeSkip = 1;
};

// Destinations whose content is never shown.
bool isSkippedDestination(std::string_view w) {
    static const std::string_view kSkipped[] = {
        "info", "pict", "object", "objdata", "stylesheet", "header", "headerl", "headerr",
        "headerf", "footer", "footerl", "footerr", "footerf", "footnote", "annotation",
        "listtable", "listoverridetable", "revtbl", "rsidtbl", "xmlnstbl", "filetbl",
        "themedata", "colorschememapping", "datastore", "latentstyles", "generator",
        "nonshppict", "fldinst", "bkmkstart", "bkmkend", "private", "pgdsctbl", "author",
        "operator", "title", "subject", "comment", "keywords", "company", "doccomm", "txe",
        "xe", "tc", "atnid", "atnauthor", "buptim", "creatim", "revtim", "printim", "template",
        "userprops", "docvar", "pn", "fchars", "lchars", "mmath", "nonesttables"};
    return std::find(std::begin(kSkipped), std::end(kSkipped), w) != std::end(kSkipped);
}

class Reader {
public:
    Reader(std::string_view in, RtfSink& sink) : in_(in), sink_(sink) {}

    void run() {
        while (pos_ < in_.size()) {
            const char c = in_[pos_];
            if (c == '{') {
                ++pos_;
                unicodeSkipLeft_ = 0;
                pushGroup();
            } else if (c == '}') {
                ++pos_;
                unicodeSkipLeft_ = 0;
                if (overflow_ == 0 && stack_.size() == 1) break;  // the document's group ends
                popGroup();
            } else if (c == '\\') {
                controlAt();
            } else {
                ++pos_;
                if (c == '\r' || c == '\n' || c == '\0') continue;
                if (unicodeSkipLeft_ > 0) {
                    --unicodeSkipLeft_;
                    continue;
                }
                if (c == '\t')
                    put(u'\t');
                else
                    putByte(static_cast<unsigned char>(c));
            }
        }
        // The last paragraph keeps the settings in force where the text ended.
        dropLead();
        flushRun();
        sink_.finish(cur_.para);
    }

private:
    void pushGroup() {
        if (stack_.size() >= static_cast<size_t>(kRtfMaxDepth)) {
            ++overflow_;
            return;
        }
        stack_.push_back(cur_);
    }

    void popGroup() {
        if (overflow_ > 0) {
            --overflow_;
            return;
        }
        if (stack_.empty()) return;  // a stray brace before any group
        if (cur_.destination == Destination::FontTable) commitFont();
        cur_ = stack_.back();
        stack_.pop_back();
    }

    // At a backslash: reads one control word or control symbol.
    void controlAt() {
        ++pos_;
        if (pos_ >= in_.size()) return;  // truncated escape
        const bool skipping = unicodeSkipLeft_ > 0;
        const char c = in_[pos_];
        if (isLetter(c)) {
            const size_t start = pos_;
            while (pos_ < in_.size() && isLetter(in_[pos_])) ++pos_;
            const std::string_view word = in_.substr(start, pos_ - start);
            bool hasParam = false;
            const int64_t value = readParameter(hasParam);
            if (word == "bin") {  // raw bytes follow; never interpreted
                const uint64_t n = value > 0 ? static_cast<uint64_t>(value) : 0;
                pos_ += static_cast<size_t>(std::min<uint64_t>(n, in_.size() - pos_));
                return;
            }
            if (skipping) {
                --unicodeSkipLeft_;
                return;
            }
            controlWord(word, hasParam, static_cast<int>(value));
            return;
        }
        ++pos_;
        int byte = -1;
        if (c == '\'' && pos_ + 1 < in_.size()) {
            const int hi = hexValue(in_[pos_]), lo = hexValue(in_[pos_ + 1]);
            if (hi >= 0 && lo >= 0) {
                byte = hi * 16 + lo;
                pos_ += 2;
            }
        }
        if (skipping) {
            --unicodeSkipLeft_;
            return;
        }
        if (c == '\'') {
            if (byte >= 0) putByte(static_cast<unsigned char>(byte));
            return;
        }
        controlSymbol(c);
    }

    // The optional signed number after a control word, clamped, and the space that ends it.
    int64_t readParameter(bool& hasParam) {
        bool negative = false;
        if (pos_ + 1 < in_.size() && in_[pos_] == '-' && isDigit(in_[pos_ + 1])) {
            negative = true;
            ++pos_;
        }
        int64_t value = 0;
        while (pos_ < in_.size() && isDigit(in_[pos_])) {
            hasParam = true;
            if (value <= kNumberLimit) value = value * 10 + (in_[pos_] - '0');
            ++pos_;
        }
        value = std::min(value, kNumberLimit);
        if (negative) value = -value;
        if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
        return value;
    }

    void controlSymbol(char c) {
        switch (c) {
            case '\\': case '{': case '}': put(static_cast<char16_t>(c)); break;
            case '~': put(u'\u00A0'); break;
            case '_': put(u'\u2011'); break;
            case '-': break;  // optional hyphen: shown only at a break, which we never force
            case '*': cur_.destination = Destination::Skip; break;  // ignorable destination
            case '\r': case '\n': paragraphBreak(); break;
            default: break;
        }
    }

    void controlWord(std::string_view w, bool hasParam, int value) {
        if (cur_.destination == Destination::Skip) return;
        if (cur_.destination == Destination::FontTable) return fontTableWord(w, value);
        if (cur_.destination == Destination::ColourTable) return colourTableWord(w, value);
        if (characterWord(w, !hasParam || value != 0, value) || paragraphWord(w, value)) return;
        if (w == "par" || w == "sect" || w == "page" || w == "row" || w == "nestrow") paragraphBreak();
        else if (w == "line") put(u'\u2028');
        else if (w == "tab" || w == "cell" || w == "nestcell") put(u'\t');
        else if (w == "u") {
            put(static_cast<char16_t>(value < 0 ? value + 65536 : value));
            unicodeSkipLeft_ = cur_.unicodeSkip;
        } else if (w == "uc") cur_.unicodeSkip = std::clamp(value, 0, kMaxUnicodeSkip);
        else if (w == "emdash") put(u'\u2014');
        else if (w == "endash") put(u'\u2013');
        else if (w == "bullet") put(u'\u2022');
        else if (w == "lquote") put(u'\u2018');
        else if (w == "rquote") put(u'\u2019');
        else if (w == "ldblquote") put(u'\u201C');
        else if (w == "rdblquote") put(u'\u201D');
        else if (w == "emspace") put(u'\u2003');
        else if (w == "enspace") put(u'\u2002');
        else if (w == "ansicpg") documentCodePage_ = value > 0 ? value : documentCodePage_;
        else if (w == "ansi") documentCodePage_ = 1252;
        else if (w == "mac") documentCodePage_ = 10000;
        else if (w == "pc") documentCodePage_ = 437;
        else if (w == "pca") documentCodePage_ = 850;
        else if (w == "deff") defaultFont_ = cur_.chr.font = value;
        else if (w == "fonttbl") cur_.destination = Destination::FontTable;
        else if (w == "colortbl") cur_.destination = Destination::ColourTable;
        else if (isSkippedDestination(w)) cur_.destination = Destination::Skip;
        // Anything else is a word we do not know: ignored, as the format asks.
    }

    void fontTableWord(std::string_view w, int value) {
        if (w == "f") {
            commitFont();
            fontIndex_ = value;
        } else if (w == "fcharset") {
            fontCharsetPage_ = CodePageOfCharset(value);
        } else if (w == "cpg") {
            fontCpg_ = std::max(value, 0);
        } else if (isSkippedDestination(w)) {
            cur_.destination = Destination::Skip;
        }
    }

    void colourTableWord(std::string_view w, int value) {
        const int v = std::clamp(value, 0, 255);
        if (w == "red") red_ = v, colourSet_ = true;
        else if (w == "green") green_ = v, colourSet_ = true;
        else if (w == "blue") blue_ = v, colourSet_ = true;
    }

    // Character formatting; false when w is none of its words.
    bool characterWord(std::string_view w, bool on, int value) {
        RtfCharState& ch = cur_.chr;
        if (w == "b") ch.bold = on;
        else if (w == "i") ch.italic = on;
        else if (w == "ul" || w == "uld" || w == "uldb" || w == "uldash" || w == "ulw" || w == "ulth" || w == "ulwave") ch.underline = on;
        else if (w == "ulnone") ch.underline = false;
        else if (w == "strike") ch.strike = on;
        else if (w == "v") ch.hidden = on;
        else if (w == "super") ch.vertical = 1;
        else if (w == "sub") ch.vertical = -1;
        else if (w == "nosupersub") ch.vertical = 0;
        else if (w == "f") ch.font = value;
        else if (w == "fs") ch.halfPoints = value > 0 ? std::min(value, kMaxHalfPoints) : 24;
        else if (w == "cf") ch.foreground = value;
        else if (w == "cb" || w == "highlight" || w == "chcbpat") ch.background = value;
        else if (w == "plain") ch = RtfCharState{.font = defaultFont_};
        else return false;
        return true;
    }

    // Paragraph formatting; false when w is none of its words.
    bool paragraphWord(std::string_view w, int value) {
        RtfParaState& pa = cur_.para;
        if (w == "pard") pa = RtfParaState{};
        else if (w == "ql") pa.alignment = Qt::AlignLeft;
        else if (w == "qc") pa.alignment = Qt::AlignHCenter;
        else if (w == "qr") pa.alignment = Qt::AlignRight;
        else if (w == "qj") pa.alignment = Qt::AlignJustify;
        else if (w == "li") pa.leftIndent = std::clamp(value, -kMaxTwips, kMaxTwips);
        else if (w == "ri") pa.rightIndent = std::clamp(value, -kMaxTwips, kMaxTwips);
        else if (w == "fi") pa.firstIndent = std::clamp(value, -kMaxTwips, kMaxTwips);
        else if (w == "sb") pa.spaceBefore = std::clamp(value, 0, kMaxTwips);
        else if (w == "sa") pa.spaceAfter = std::clamp(value, 0, kMaxTwips);
        else return false;
        return true;
    }

    // A byte of text in the code page in force; a double-byte page's lead byte waits for the
    // byte after it, which may come as an escape or as it stands.
    void putByte(unsigned char b) {
        if (cur_.destination == Destination::Skip) return;
        if (lead_ != 0) {
            const unsigned char lead = lead_;
            lead_ = 0;
            if (const char16_t ch = leadPage_->pair(lead, b)) return addChar(ch);
            addChar(u'\uFFFD');
            if (b < 0x80) return addChar(b);  // no trail byte: the character stands on its own
            return;
        }
        if (b < 0x80) return addChar(b);
        CodePage& page = pageFor(currentCodePage());
        if (page.isLead(b)) {
            lead_ = b;
            leadPage_ = &page;
            return;
        }
        addChar(page.single(b));
    }

    CodePage& pageFor(int cp) {
        if (page_ == nullptr || pageNumber_ != cp) {
            page_ = &CodePage::get(cp);
            pageNumber_ = cp;
        }
        return *page_;
    }

    int currentCodePage() const {
        if (cur_.destination == Destination::FontTable) {
            if (const int cp = fontCodePage()) return cp;
        }
        if (!tables_.fonts.empty()) {
            auto it = tables_.fonts.find(cur_.chr.font);
            if (it != tables_.fonts.end() && it->second.codePage != 0) return it->second.codePage;
        }
        return documentCodePage_;
    }

    int fontCodePage() const { return fontCpg_ != 0 ? fontCpg_ : fontCharsetPage_; }

    // A lead byte that no byte followed.
    void dropLead() {
        if (lead_ == 0) return;
        lead_ = 0;
        addChar(u'\uFFFD');
    }

    void put(char16_t ch) {
        dropLead();
        addChar(ch);
    }

    void addChar(char16_t ch) {
        switch (cur_.destination) {
            case Destination::Skip: return;
            case Destination::FontTable:
                if (ch == u';') commitFont();
                else if (fontName_.size() < 256) fontName_.append(QChar(ch));
                return;
            case Destination::ColourTable:
                if (ch == u';') {
                    tables_.colours.push_back(RtfColour{red_, green_, blue_, colourSet_});
                    red_ = green_ = blue_ = 0;
                    colourSet_ = false;
                }
                return;
            case Destination::Text: break;
        }
        if (ch == 0 || cur_.chr.hidden) return;
        if (!(cur_.chr == runState_)) {
            flushRun();
            runState_ = cur_.chr;
        }
        run_.append(QChar(ch));
    }

    void commitFont() {
        const QString name = fontName_.trimmed();
        if (fontIndex_ >= 0 && !name.isEmpty() && tables_.fonts.size() < 65536)
            tables_.fonts[fontIndex_] = RtfFont{name, fontCodePage()};
        fontName_.clear();
        fontCharsetPage_ = fontCpg_ = 0;
        fontIndex_ = -1;
    }

    void flushRun() {
        if (run_.isEmpty()) return;
        sink_.text(run_, runState_, tables_);
        run_.clear();
    }

    // Ends the paragraph in hand with the paragraph settings now in force.
    void paragraphBreak() {
        if (cur_.destination != Destination::Text) return;
        dropLead();
        flushRun();
        sink_.paragraph(cur_.para, cur_.chr, tables_);
    }

    std::string_view in_;
    size_t pos_ = 0;
    RtfSink& sink_;
    std::vector<GroupState> stack_;
    GroupState cur_;
    int64_t overflow_ = 0;
    int unicodeSkipLeft_ = 0;

    QString run_;
    RtfCharState runState_;

    int documentCodePage_ = 1252;
    int defaultFont_ = -1;
    int fontIndex_ = -1;
    int fontCharsetPage_ = 0;  // the font being read: its \fcharset's page and its \cpg
    int fontCpg_ = 0;
    unsigned char lead_ = 0;  // a double-byte page's lead byte waiting for its trail
    CodePage* leadPage_ = nullptr;
    CodePage* page_ = nullptr;  // the last page looked up
    int pageNumber_ = 0;
    QString fontName_;
    RtfTables tables_;
    int red_ = 0, green_ = 0, blue_ = 0;
    bool colourSet_ = false;
};


// What QTextCursor::insertText and QTextDocument::toPlainText make of the runs: CR LF, CR, LF,
// U+2029 and the frame marks U+FDD0 and U+FDD1 inside a run start a new block; blocks, line
// separators and frame marks read as LF, no-break spaces as spaces.
class PlainTextSink final : public RtfSink {
public:
    void text(const QString& run, const RtfCharState&, const RtfTables&) override {
        const qsizetype n = run.size();
        for (qsizetype i = 0; i < n; ++i) {
            char16_t c = run[i].unicode();
            if (c == u'\r' && i + 1 < n && run[i + 1] == u'\n') c = run[++i].unicode();
            switch (c) {
                case u'\r': case u'\n': case 0x2029: case 0x2028: case 0xFDD0: case 0xFDD1:
                    out.append(u'\n');
                    break;
                case 0x00A0: out.append(u' '); break;
                default: out.append(QChar(c)); break;
            }
        }
    }
    void paragraph(const RtfParaState&, const RtfCharState&, const RtfTables&) override { out.append(u'\n'); }
    void finish(const RtfParaState&) override {}
    QString out;
};

}  // namespace

bool LooksLikeRtf(std::string_view bytes) { return bytes.substr(0, 5) == "{\\rtf"; }

void WalkRtf(std::string_view bytes, RtfSink& sink) { Reader(bytes, sink).run(); }

QString RtfPlainText(std::string_view bytes) {
    PlainTextSink sink;
    WalkRtf(bytes, sink);
    return sink.out;
}

}  // namespace vorlr
