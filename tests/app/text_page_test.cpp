// The Text page: ShowTextEntry from an archive positioned at an entry, the status text, the
// scratch files and what the box shows.
#include <gtest/gtest.h>

#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QWidget>
#include <QImage>
#include <QPixmap>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/PageContext.h"
#include "app/StatusBar.h"
#include "app/TextPage.h"
#include "app/ViewerState.h"
#include "lib/QarBuilder.h"
#include "lib/TextSamples.h"
#include "platform/Errors.h"
#include "platform/RuntimeFile.h"
#include "support/Bytes.h"
#include "support/TempDir.h"

using namespace vorlr;
using vorlr::samples::QarEntry;
using vorlr::samples::bytesOf;
using vorlr::samples::readFile;
using vorlr::testing::raw;
using vorlr::testing::ScopedCwd;
using vorlr::testing::str;
using vorlr::testing::TempDir;

namespace {

class TextPageTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCwd cwd{dir.path()};
    ViewerState state;
    QTabWidget pageControl;
    QWidget* tsText = new QWidget;
    QWidget* tsImage = new QWidget;
    StatusBar statusBar;
    std::unique_ptr<TextPage> page;
    std::vector<std::vector<uint8_t>> entries;

    void SetUp() override {
        pageControl.addTab(tsText, "Text");
        pageControl.addTab(tsImage, "Image");
        page = std::make_unique<TextPage>(tsText, PageContext{state, statusBar, pageControl});
    }

    // Writes the archive with these entries (named E0.TXT, E1.TXT, ...) and opens it.
    void archive(std::vector<std::vector<uint8_t>> data) {
        entries = std::move(data);
        std::vector<QarEntry> list;
        for (size_t i = 0; i < entries.size(); ++i)
            list.push_back(QarEntry{"E" + std::to_string(i) + ".TXT", entries[i], {}, {}, false});
        samples::writeQar(dir.file("t.qar"), list);
        state.archive.open(dir.file("t.qar"));
    }

    // What selecting entry i leaves behind: the archive at its data and its size set.
    void show(size_t i) {
        int64_t offset = 520;
        for (size_t k = 0; k < i; ++k) offset += static_cast<int64_t>(entries[k].size());
        state.ArchiveFile.seek(offset);
        state.CurrentEntrySize = static_cast<int32_t>(entries[i].size());
        statusBar.setPanelText(3, "Type: not supported yet");
        pageControl.setCurrentWidget(tsImage);
        page->ShowTextEntry();
    }

    QString boxText() const { return page->reText()->toPlainText(); }
    std::string type() const { return statusBar.panelText(3); }
};

}  // namespace

TEST_F(TextPageTest, InitialBoxBeforeAnySelection) {
    QTextEdit* re = page->reText();
    EXPECT_EQ(re->parentWidget(), tsText);
    EXPECT_EQ(re->geometry(), QRect(0, 0, 561, 491));
    EXPECT_EQ(re->objectName(), "reText");
    const QStringList lines = boxText().split('\n');
    ASSERT_EQ(lines.size(), 11);
    EXPECT_EQ(lines[0], "Vorlund - Resource File");
    EXPECT_EQ(lines[1], QString(41, '-'));
    EXPECT_EQ(lines[2], "Version: 1.0 (Build 3326)");
    EXPECT_EQ(lines[5], "- Support media files: *.WAV, *.MP3 ");
    EXPECT_EQ(lines[6], "");
    EXPECT_EQ(lines[10], "Select the supported files and you can view / hear what's in it.");
}

TEST_F(TextPageTest, UnicodeEntryIsConvertedInPlace) {
    archive({raw({0xFF, 0xFE, 0x41, 0x00, 0x42, 0x00}), raw({0xFF, 0xFE, 0xAC, 0x20, 0x43})});
    show(0);
    EXPECT_EQ(pageControl.currentWidget(), tsText);
    EXPECT_EQ(type(), "Type: Unicode text file");
    EXPECT_EQ(boxText(), "AB");
    EXPECT_EQ(state.TempFileName, "TEMP.TXT");
    EXPECT_EQ(str(readFile("TEMP.TXT")), "AB");
    EXPECT_FALSE(fileExists("$$$$"));
    // U+20AC keeps its low byte, shown as Windows-1252 (a 1/4 sign); the odd byte is dropped.
    show(1);
    EXPECT_EQ(str(readFile("TEMP.TXT")), "\xAC");
    EXPECT_EQ(boxText(), QString(QChar(0xAC)));
}

TEST_F(TextPageTest, BigEndianMarkIsSimpleText) {
    archive({raw({0xFE, 0xFF, 0x00, 0x41})});
    show(0);
    EXPECT_EQ(type(), "Type: Simple text file");
    EXPECT_EQ(readFile("TEMP.TXT"), raw({0xFE, 0xFF, 0x00, 0x41}));
    EXPECT_EQ(boxText(), QString::fromUtf8("þÿ") + QChar(0) + "A");
}

TEST_F(TextPageTest, EveryLineBreakFormIsABreakAndBytesAreWindows1252) {
    archive({bytesOf("one\r\ntwo\nthree\rfour\r\n\r\nsix\n\rend \x80\xe9")});
    show(0);
    EXPECT_EQ(type(), "Type: Simple text file");
    EXPECT_EQ(boxText(), QString::fromUtf8("one\ntwo\nthree\nfour\n\nsix\n\nend €é"));
    // The scratch file keeps the bytes as they were.
    EXPECT_EQ(str(readFile("TEMP.TXT")), "one\r\ntwo\nthree\rfour\r\n\r\nsix\n\rend \x80\xe9");
}

TEST_F(TextPageTest, EmptyEntryKeepsTheTypeOfThePreviousHeadBytes) {
    archive({raw({0xFF, 0xFE, 0x41, 0x00}), {}, bytesOf("plain"), {}});
    show(0);
    show(1);
    EXPECT_EQ(type(), "Type: Unicode text file");
    EXPECT_EQ(boxText(), "");
    EXPECT_TRUE(fileExists("TEMP.TXT"));
    EXPECT_FALSE(fileExists("$$$$"));
    show(2);
    show(3);
    EXPECT_EQ(type(), "Type: Simple text file");
    EXPECT_EQ(boxText(), "");
}

TEST_F(TextPageTest, RtfIsShownFormattedAndPlainTextAfterItIsNot) {
    archive({bytesOf("{\\rtf1{\\colortbl;\\red200\\green0\\blue0;}\\qc\\b\\cf1 Title\\b0\\par\\pard body}"),
             bytesOf("plain after"), bytesOf(" {\\rtf1 not at the start}")});
    show(0);
    EXPECT_EQ(type(), "Type: Simple text file");
    QTextDocument* doc = page->reText()->document();
    EXPECT_EQ(boxText(), "Title\nbody");
    QTextCursor c(doc);
    c.setPosition(1);
    EXPECT_EQ(c.charFormat().fontWeight(), QFont::Bold);
    EXPECT_EQ(c.charFormat().foreground().color(), QColor(200, 0, 0));
    EXPECT_EQ(doc->firstBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);

    show(1);
    EXPECT_EQ(boxText(), "plain after");
    c = QTextCursor(doc);
    c.setPosition(1);
    EXPECT_NE(c.charFormat().fontWeight(), QFont::Bold);
    EXPECT_FALSE(c.charFormat().hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_NE(doc->firstBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);

    show(2);
    EXPECT_EQ(boxText(), " {\\rtf1 not at the start}");
}

TEST_F(TextPageTest, LargeEntrySpansManyWorkBuffers) {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "line " + std::to_string(i) + "\r\n";
    std::vector<uint8_t> unicode = {0xFF, 0xFE};
    for (char ch : text) {
        unicode.push_back(static_cast<uint8_t>(ch));
        unicode.push_back(0);
    }
    archive({unicode});
    show(0);
    EXPECT_EQ(type(), "Type: Unicode text file");
    EXPECT_EQ(str(readFile("TEMP.TXT")), text);
    const QStringList lines = boxText().split('\n');
    ASSERT_EQ(lines.size(), 5001);
    EXPECT_EQ(lines[63], "line 63");
    EXPECT_EQ(lines[64], "line 64");
    EXPECT_EQ(lines[4999], "line 4999");
    EXPECT_EQ(lines[5000], "");
}

TEST_F(TextPageTest, FailuresEndTheViewerWithTheRuntimeText) {
    archive({bytesOf("abc")});
    // TEMP.TXT cannot be created where a folder has that name.
    std::filesystem::create_directory("TEMP.TXT");
    state.ArchiveFile.seek(520);
    state.CurrentEntrySize = 3;
    EXPECT_THROW(page->ShowTextEntry(), FileError);
    EXPECT_EQ(pageControl.currentWidget(), tsText);  // the page was shown first

    try {
        page->loadFile(dir.file("missing.txt"));
        FAIL() << "no error";
    } catch (const FileError&) {
        FAIL() << "a file error instead of the load error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Failed to Load Stream");
    }
}

TEST(LineBreaks, AllFormsBecomeOneLineFeed) {
    EXPECT_EQ(normaliseLineBreaks("a\r\nb\nc\rd"), "a\nb\nc\nd");
    EXPECT_EQ(normaliseLineBreaks("\r\r\n\n\r"), "\n\n\n\n");
    EXPECT_EQ(normaliseLineBreaks("x\r"), "x\n");
    EXPECT_EQ(normaliseLineBreaks(""), "");
}

// The demo's formatted notice, painted: the dark red title is there, centred in the box.
// Set VORLR_TEXT_PNG to a path to keep the picture.
TEST_F(TextPageTest, DemoRtfPaintsItsColouredCentredTitle) {
    std::vector<uint8_t> notice;
    for (const auto& e : samples::textDemoEntries())
        if (e.name == "DATA\\TEXT\\NOTICE.TXT") notice = e.data;
    ASSERT_FALSE(notice.empty());
    archive({notice});
    pageControl.resize(570, 520);
    pageControl.show();
    show(0);
    const QImage image = tsText->grab().toImage();
    if (const char* png = std::getenv("VORLR_TEXT_PNG")) image.save(QString::fromLocal8Bit(png));
    int64_t count = 0, sumX = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 120 && c.green() < 60 && c.blue() < 60) ++count, sumX += x;
        }
    ASSERT_GT(count, 50);
    const double centre = static_cast<double>(sumX) / static_cast<double>(count);
    EXPECT_NEAR(centre, page->reText()->viewport()->width() / 2.0, 40.0);
}
