// Our RTF reader: what it puts into the document, and that damaged input stays harmless.
#include <gtest/gtest.h>

#include <iconv.h>

#include <cctype>
#include <string>

#include <QFont>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "lib/TextSamples.h"
#include "viewers/richtext/RtfReader.h"

using namespace vorlr;

namespace {

QString read(const std::string& rtf, QTextDocument& doc) {
    ReadRtf(rtf, doc);
    return doc.toPlainText();
}

QString textOf(const std::string& rtf) {
    QTextDocument doc;
    return read(rtf, doc);
}

// Format of the first character of the first occurrence of text.
QTextCharFormat formatOf(QTextDocument& doc, const QString& text) {
    const QTextCursor found = doc.find(text);
    EXPECT_FALSE(found.isNull()) << text.toStdString();
    QTextCursor c(&doc);
    c.setPosition(found.selectionStart() + 1);
    return c.charFormat();
}

QTextBlockFormat blockOf(QTextDocument& doc, const QString& text) {
    const QTextCursor found = doc.find(text);
    EXPECT_FALSE(found.isNull()) << text.toStdString();
    return found.block().blockFormat();
}

// text (UTF-8) in the code page, by the C library.
std::string encoded(const char* codePage, const std::string& text) {
    iconv_t cd = iconv_open(codePage, "UTF-8");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << codePage;
    std::string in = text, out(text.size() * 4, '\0');
    char* inp = in.data();
    char* outp = out.data();
    size_t inLeft = in.size(), outLeft = out.size();
    EXPECT_NE(iconv(cd, &inp, &inLeft, &outp, &outLeft), static_cast<size_t>(-1)) << codePage;
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

// Bytes as RTF writes them: \'hh for each high byte, each byte of a pair its own escape, except
// that a trail byte that is a plain letter or digit stays as it is.
std::string escaped(const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        if (b < 0x80 && std::isalnum(b) && !out.empty()) {
            out += static_cast<char>(b);
        } else {
            out += "\\'";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

}  // namespace

TEST(RtfHeader, OnlyTheRtfOpeningCounts) {
    EXPECT_TRUE(LooksLikeRtf("{\\rtf1 x}"));
    EXPECT_TRUE(LooksLikeRtf("{\\rtf"));
    EXPECT_FALSE(LooksLikeRtf(" {\\rtf1}"));
    EXPECT_FALSE(LooksLikeRtf("{\\rt"));
    EXPECT_FALSE(LooksLikeRtf("{\\RTF1}"));
    EXPECT_FALSE(LooksLikeRtf(""));
}

TEST(RtfCharacters, RunsOfBoldItalicUnderlineAndTheirEnds) {
    QTextDocument doc;
    read("{\\rtf1 plain {\\b bold} \\i italic\\i0  upright \\ul under\\ulnone  over \\b on\\b0  off}", doc);
    EXPECT_EQ(doc.toPlainText(), "plain bold italic upright under over on off");
    EXPECT_EQ(formatOf(doc, "bold").fontWeight(), QFont::Bold);
    EXPECT_EQ(formatOf(doc, "plain").fontWeight(), QFont::Normal);
    EXPECT_TRUE(formatOf(doc, "italic").fontItalic());
    EXPECT_FALSE(formatOf(doc, "upright").fontItalic());
    EXPECT_TRUE(formatOf(doc, "under").fontUnderline());
    EXPECT_FALSE(formatOf(doc, "over").fontUnderline());
    EXPECT_EQ(formatOf(doc, "on").fontWeight(), QFont::Bold);
    EXPECT_EQ(formatOf(doc, "off").fontWeight(), QFont::Normal);
    // The group closed: the text after it is not bold.
    EXPECT_EQ(formatOf(doc, " italic").fontWeight(), QFont::Normal);
}

TEST(RtfCharacters, FontsSizesAndColoursFromTheirTables) {
    QTextDocument doc;
    read("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\fmodern\\fcharset0 Courier New;}}"
         "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}"
         "\\f0\\fs24 normal \\f1\\fs40 big \\cf1 red\\cf2  blue\\cf0  auto \\cb2 backed\\cb0 }",
         doc);
    EXPECT_EQ(doc.toPlainText(), "normal big red blue auto backed");
    EXPECT_EQ(formatOf(doc, "normal").fontFamilies().toStringList(), QStringList{"Arial"});
    EXPECT_DOUBLE_EQ(formatOf(doc, "normal").fontPointSize(), 12.0);
    EXPECT_EQ(formatOf(doc, "big").fontFamilies().toStringList(), QStringList{"Courier New"});
    EXPECT_DOUBLE_EQ(formatOf(doc, "big").fontPointSize(), 20.0);
    EXPECT_EQ(formatOf(doc, "red").foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(formatOf(doc, "blue").foreground().color(), QColor(0, 0, 255));
    EXPECT_FALSE(formatOf(doc, "auto").hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_EQ(formatOf(doc, "backed").background().color(), QColor(0, 0, 255));
    // Colour indices beyond the table are ignored rather than read.
    read("{\\rtf1{\\colortbl;\\red1\\green2\\blue3;}\\cf99 x\\cf-5 y\\cf1 z}", doc);
    EXPECT_FALSE(formatOf(doc, "x").hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_FALSE(formatOf(doc, "y").hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_EQ(formatOf(doc, "z").foreground().color(), QColor(1, 2, 3));
}

TEST(RtfParagraphs, BreaksAlignmentAndIndents) {
    QTextDocument doc;
    read("{\\rtf1\\pard\\qc Title\\par\\pard\\li720\\ri360\\fi-180 Body\\line next\\tab tabbed\\par"
         "\\qr Right\\par\\qj Justified\\par\\pard Left}",
         doc);
    EXPECT_EQ(doc.blockCount(), 5);
    EXPECT_EQ(doc.toPlainText(), QString("Title\nBody\nnext\ttabbed\nRight\nJustified\nLeft"));
    EXPECT_EQ(doc.findBlockByNumber(1).text(), QString("Body\u2028next\ttabbed"));  // \line stays in its paragraph
    EXPECT_EQ(blockOf(doc, "Title").alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    const QTextBlockFormat body = blockOf(doc, "Body");
    EXPECT_EQ(body.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    EXPECT_DOUBLE_EQ(body.leftMargin(), 48.0);   // 720 twips at 96 pixels per inch
    EXPECT_DOUBLE_EQ(body.rightMargin(), 24.0);
    EXPECT_DOUBLE_EQ(body.textIndent(), -12.0);
    // Paragraph settings carry on until \pard.
    EXPECT_DOUBLE_EQ(blockOf(doc, "Right").leftMargin(), 48.0);
    EXPECT_EQ(blockOf(doc, "Right").alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(blockOf(doc, "Justified").alignment() & Qt::AlignHorizontal_Mask, Qt::AlignJustify);
    EXPECT_EQ(blockOf(doc, "Left").alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    EXPECT_DOUBLE_EQ(blockOf(doc, "Left").leftMargin(), 0.0);
    // The last paragraph needs no \par to keep its settings, closed or not.
    read("{\\rtf1\\qc centred}", doc);
    EXPECT_EQ(doc.firstBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    read("{\\rtf1\\qr{\\b right", doc);
    EXPECT_EQ(doc.firstBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    // Raw line breaks in the file are not text.
    EXPECT_EQ(textOf("{\\rtf1 a\r\nb\nc\rd}"), "abcd");
}

TEST(RtfCharacters, HexEscapesFollowTheCodePage) {
    EXPECT_EQ(textOf("{\\rtf1 caf\\'e9}"), QString::fromUtf8("café"));
    EXPECT_EQ(textOf("{\\rtf1\\ansi\\ansicpg1252 \\'80\\'93x\\'94}"), QString::fromUtf8("€“x”"));
    EXPECT_EQ(textOf("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2}"), QString::fromUtf8("Привет"));
    EXPECT_EQ(textOf("{\\rtf1\\ansi\\ansicpg1250 \\'8a\\'e8\\'b9}"), QString::fromUtf8("Ščą"));
    // An unknown code page falls back to Windows-1252; raw high bytes decode the same way.
    EXPECT_EQ(textOf("{\\rtf1\\ansicpg4242 \\'e9}"), QString::fromUtf8("é"));
    EXPECT_EQ(textOf("{\\rtf1\\ansicpg1251 \xcf}"), QString::fromUtf8("П"));
    // A font's character set wins over the document's code page.
    EXPECT_EQ(textOf("{\\rtf1\\ansicpg1252{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset204 Arial Cyr;}}"
                     "\\f1\\'c0\\f0\\'c0}"),
              QString::fromUtf8("АÀ"));
}

TEST(RtfCharacters, DoubleBytePagesPairLeadAndTrailBytes) {
    struct Case {
        const char* page;   // the C library's name, to write the text with
        std::string header; // what names the page in the document
        std::string text;   // UTF-8
    };
    const Case cases[] = {
        {"CP936", "\\ansi\\ansicpg936", "测试中文文档"},
        {"CP936", "\\ansicpg1252{\\fonttbl{\\f0\\fcharset134 SimSun;}}\\f0", "宋体表格"},
        // 932: ア and ソ have the trail bytes 'A' and '\\' (escaped); カ is a half-width single byte.
        {"CP932", "\\ansi\\ansicpg932", "日本語のテキスト、アソｶ"},
        {"CP932", "{\\fonttbl{\\f1\\fcharset0\\cpg932 MS Mincho;}}\\f1", "漢字アイウ"},
        {"CP949", "{\\fonttbl{\\f2\\fcharset129 Batang;}}\\f2", "한국어"},
        {"BIG5", "{\\fonttbl{\\f3\\fcharset136 MingLiU;}}\\f3", "繁體中文"},
    };
    for (const Case& c : cases) {
        const std::string body = escaped(encoded(c.page, c.text));
        // A \u escape beside the pairs, its fallback skipped as a pair of bytes.
        const std::string rtf = "{\\rtf1" + c.header + " " + body + "\\uc2\\u8364\\'a1\\'ea" + body + "}";
        EXPECT_EQ(textOf(rtf), QString::fromUtf8(c.text + "€" + c.text)) << c.page << " " << rtf;
    }
    // A Latin font (ANSI) selected while the document's double-byte text is written, as word
    // processors do; the same font in a Windows-1252 document reads Windows-1252.
    EXPECT_EQ(textOf("{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0\\fcharset0 Calibri;}{\\f1\\fcharset134 SimSun;}}"
                     "{\\hich\\af0\\dbch\\af1\\loch\\f0 \\'b2\\'e2}}"),
              QString::fromUtf8("测"));
    EXPECT_EQ(textOf("{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fcharset0 Calibri;}}\\f0 \\'b2\\'e2}"),
              QString::fromUtf8("²â"));
    // A pair may be broken by a line break in the file; a literal trail byte follows an escape.
    EXPECT_EQ(textOf("{\\rtf1\\ansicpg936 \\'b2\r\n\\'e2\\'ca\\'d4}"), QString::fromUtf8("测试"));
    EXPECT_EQ(textOf("{\\rtf1\\ansicpg932 \\'83A\\'83\\'43}"), QString::fromUtf8("アイ"));
    // A lead byte that nothing pairs is one replacement character, and the text goes on.
    EXPECT_EQ(textOf("{\\rtf1\\ansicpg936 \\'b2\\par x\\'b2}"), QString::fromUtf8("\uFFFD\nx\uFFFD"));
    EXPECT_EQ(textOf("{\\rtf1\\ansicpg936 \\'b2 x}"), QString::fromUtf8("\uFFFD x"));
    // Single-byte pages the C library converts: Greek, Hebrew, Thai, Mac Roman, OEM 437.
    EXPECT_EQ(textOf("{\\rtf1{\\fonttbl{\\f0\\fcharset161 A;}{\\f1\\fcharset177 B;}{\\f2\\fcharset222 C;}"
                     "{\\f3\\fcharset77 D;}{\\f4\\fcharset255 E;}}\\f0\\'e1\\f1\\'e0\\f2\\'a1\\f3\\'8e\\f4\\'82}"),
              QString::fromUtf8("αאกéé"));
}

TEST(RtfCharacters, UnicodeEscapesAndTheirFallbacks) {
    EXPECT_EQ(textOf("{\\rtf1 \\u8364?x}"), QString::fromUtf8("€x"));
    EXPECT_EQ(textOf("{\\rtf1 \\u-3913?}"), QString(QChar(char16_t(0xF0B7))));  // negative: +65536
    EXPECT_EQ(textOf("{\\rtf1 \\uc2\\u1041\\'c1\\'c1 x}"), QString::fromUtf8("Б x"));
    EXPECT_EQ(textOf("{\\rtf1 \\uc0\\u1041 x}"), QString::fromUtf8("Бx"));
    // A group end stops the skipping; \uc is scoped to its group.
    EXPECT_EQ(textOf("{\\rtf1 {\\uc3\\u1041}abc{\\u1042 xy}}"), QString::fromUtf8("БabcВy"));
    // A surrogate pair comes through as one character.
    EXPECT_EQ(textOf("{\\rtf1 \\u-10179?\\u-8704?}"), QString::fromUtf8("😀"));
}

TEST(RtfCharacters, ControlSymbols) {
    QTextDocument doc;
    ReadRtf("{\\rtf1 a\\\\b\\{c\\}d\\~e\\-f\\_g}", doc);
    EXPECT_EQ(doc.toRawText(), QString::fromUtf8("a\\b{c}d\u00A0ef\u2011g"));
    EXPECT_EQ(textOf("{\\rtf1 \\emdash\\endash\\bullet\\lquote\\rquote\\ldblquote\\rdblquote}"),
              QString::fromUtf8("—–•‘’“”"));
}

TEST(RtfDestinations, TablesAndUnknownDestinationsShowNothing) {
    const QString text = textOf(
        "{\\rtf1{\\fonttbl{\\f0 Arial{\\*\\panose 0000}{\\*\\falt Helv};}}{\\colortbl;\\red1;}"
        "{\\stylesheet{\\s0 Normal;}}{\\info{\\title T}{\\author A}}{\\header H}{\\footer F}"
        "{\\*\\generator G;}{\\*\\unknownthing U{nested}}{\\pict\\pngblip 89504e47}"
        "{\\object{\\*\\objdata 0102}{\\result R}}"
        "{\\field{\\*\\fldinst HYPERLINK x}{\\fldrslt link}} body\\bin3 {}}tail}");
    EXPECT_EQ(text, "link bodytail");
    // Hidden text is not shown either.
    EXPECT_EQ(textOf("{\\rtf1 a{\\v hidden}b\\v c\\v0 d}"), "abd");
}

TEST(RtfDestinations, NestedTableCellsStayApart) {
    // The outer cell holds a table of two cells; readers that know nested tables skip the
    // plain-text stand-in.
    QTextDocument doc;
    read("{\\rtf1\\trowd\\cellx2000\\cellx4000\\intbl Outer\\cell\\intbl\\itap2 Coronararterie\\nestcell "
         "Calcium-Score\\nestcell{\\*\\nesttableprops\\trowd\\cellx1000\\cellx2000\\nestrow}"
         "{\\nonesttables Coronararterie Calcium-Score\\par}\\cell\\row After}",
         doc);
    EXPECT_EQ(doc.toPlainText(), "Outer\tCoronararterie\tCalcium-Score\t\t\nAfter");
}

TEST(RtfDamage, UnbalancedAndTruncatedInput) {
    EXPECT_EQ(textOf("{\\rtf1 open {\\b never closed"), "open never closed");
    EXPECT_EQ(textOf("{\\rtf1 end}after"), "end");  // the outermost group ends the document
    EXPECT_EQ(textOf("}}{\\rtf1 x}"), "x");
    EXPECT_EQ(textOf("{\\rtf1 x\\"), "x");
    EXPECT_EQ(textOf("{\\rtf1 x\\'"), "x");
    EXPECT_EQ(textOf("{\\rtf1 x\\'4"), "x4");
    EXPECT_EQ(textOf("{\\rtf1 x\\'zz"), "xzz");
    EXPECT_EQ(textOf("{\\rtf1 x\\u"), "x");
    EXPECT_EQ(textOf("{\\rtf1 x\\bin999999999999"), "x");
    EXPECT_EQ(textOf("{\\rtf1 a\\uc99999999999\\u66 bcdefghijklmnopqrstuvwxyz}"), "aBrstuvwxyz");
    EXPECT_EQ(textOf(std::string("{\\rtf1 a\0b}", 11)), "ab");
}

TEST(RtfDamage, AbsurdNumbersAreClamped) {
    QTextDocument doc;
    read("{\\rtf1\\fs99999999999 big\\fs-5  neg \\li99999999999999999999 x\\u99999999999 y"
         "\\f99999999999 z\\cf-99999999999 w}",
         doc);
    EXPECT_TRUE(doc.toPlainText().startsWith("big neg x"));
    EXPECT_LE(formatOf(doc, "big").fontPointSize(), 1638.0);
    EXPECT_GT(formatOf(doc, "big").fontPointSize(), 0.0);
    EXPECT_DOUBLE_EQ(formatOf(doc, "neg").fontPointSize(), 12.0);
    EXPECT_LE(blockOf(doc, "x").leftMargin(), 22 * 96.0);
}

TEST(RtfDamage, DeepNestingKeepsTheTextAndReturns) {
    const int depth = 100000;
    std::string rtf = "{\\rtf1 top";
    for (int i = 0; i < depth; ++i) rtf += "{\\b ";
    rtf += "deep";
    for (int i = 0; i < depth; ++i) rtf += "}";
    rtf += " back}";
    QTextDocument doc;
    EXPECT_EQ(read(rtf, doc), "topdeep back");
    EXPECT_EQ(formatOf(doc, "deep").fontWeight(), QFont::Bold);
    EXPECT_EQ(formatOf(doc, "back").fontWeight(), QFont::Normal);
    // Opened but never closed, and closed more than opened.
    EXPECT_EQ(textOf("{\\rtf1 " + std::string(200000, '{') + "x"), "x");
    EXPECT_EQ(textOf("{\\rtf1 x" + std::string(200000, '}')), "x");
}

TEST(RtfDamage, ManyFormatChangesStayLinear) {
    // 200000 runs, each changing the format; quadratic work would run into the test's timeout.
    std::string rtf = "{\\rtf1{\\colortbl;\\red9\\green9\\blue9;}";
    for (int i = 0; i < 200000; ++i) rtf += (i % 2) ? "\\b x" : "\\b0 y";
    for (int i = 0; i < 200000; ++i) rtf += "\\'e9\\u233?\\cf1\\cf0 ";
    rtf += "}";
    QTextDocument doc;
    ReadRtf(rtf, doc);
    EXPECT_EQ(doc.characterCount() - 1, 600000);
    EXPECT_EQ(formatOf(doc, "x").fontWeight(), QFont::Bold);
    EXPECT_EQ(formatOf(doc, "y").fontWeight(), QFont::Normal);
}

TEST(RtfDocument, ReadingAgainReplacesTheContent) {
    QTextDocument doc;
    read("{\\rtf1 first\\par second}", doc);
    EXPECT_EQ(read("{\\rtf1 third}", doc), "third");
    EXPECT_EQ(doc.blockCount(), 1);
}

// The plain text the search reads without a document is the document's plain text, whatever
// the escapes put into the runs (line ends among them) and however the runs are cut.
TEST(RtfPlainText, EqualsTheDocumentsPlainText) {
    const std::string cases[] = {
        samples::formattedRtf(),
        samples::largeRtf(20000),
        samples::largeChineseRtf(20000),
        "{\\rtf1 a\\'0d\\'0ab\\'0dc\\'0a\\b d\\'0d\\b0\\'0ae}",
        "{\\rtf1 x\\u8233?y\\u8232?z\\line w\\~v\\tab u\\cell t\\row s}",
        "{\\rtf1 {\\v hidden}shown\\par\\par\\pard\\qc centre\\u-3?\\'ff\\'8}",
        "{\\rtf1\\ansicpg936{\\fonttbl{\\f0\\fcharset134 SimSun;}}\\f0 \\'c4\\'e3\\'ba\\'c3 \\'c4}",
        "{\\rtf1 unclosed {\\b group \\u64337\\u56832 end",
        "",
        "{\\rtf1 \\'0d}",
    };
    for (const std::string& rtf : cases) {
        SCOPED_TRACE(rtf.substr(0, 80));
        EXPECT_EQ(RtfPlainText(rtf), textOf(rtf));
    }
}
