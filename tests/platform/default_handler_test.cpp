// The default handler: an exception in any handler ends in one error box, and the program
// carries on. The real open-file dialog hands back any name.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "platform/gui/Dialogs.h"
#include "platform/Errors.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

using namespace vorlr;

namespace {

using vorlr::testing::RecordingDialogs;

class DefaultHandler : public ::testing::Test {
protected:
    void SetUp() override { setDialogs(&seam); }
    void TearDown() override { setDialogs(nullptr); }
    RecordingDialogs seam;
};

TEST_F(DefaultHandler, ExceptionInASlotShowsOneBoxAndTheProgramCarriesOn) {
    QPushButton button;
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        ++clicks;
        throw FileError(kFileNotFound);
    });
    // Queued calls arrive as events, the path that notify() guards.
    QMetaObject::invokeMethod(&button, "click", Qt::QueuedConnection);
    QTimer::singleShot(0, [&] { throw Error("Bitmap image is not valid"); });
    QCoreApplication::processEvents();
    QMetaObject::invokeMethod(&button, "click", Qt::QueuedConnection);
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks, 2);
    ASSERT_EQ(seam.errors.size(), 3u);
    EXPECT_EQ(seam.errors[0], "File not found.");
    EXPECT_EQ(seam.errors[1], "Bitmap image is not valid.");
    EXPECT_EQ(seam.errorTitles[0], applicationTitle());
}

TEST_F(DefaultHandler, GuardedRunsTheHandlerAndInformationGoesThroughTheSeam) {
    guarded([] { throw FileError(kReadBeyondEof); });
    showInformationText("Not a valid vorlund packed-file!");
    ASSERT_EQ(seam.errors.size(), 1u);
    EXPECT_EQ(seam.errors[0], "Read beyond end of file.");
    ASSERT_EQ(seam.infos.size(), 1u);
    EXPECT_EQ(seam.infos[0], "Not a valid vorlund packed-file!");
}

template <class W>
W* shown() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<W*>(w); found && found->isVisible()) return found;
    return nullptr;
}

// Browse opens what the user typed, there or not; the program reports a missing file itself,
// so Qt's dialog must not refuse the name with a box of its own.
TEST(OpenDialog, HandsBackANameThatDoesNotExist) {
    vorlr::testing::TempDir dir;
    const std::string missing = dir.file("missing.qar");
    bool refused = false;
    QTimer::singleShot(0, [&] {
        QFileDialog* dialog = shown<QFileDialog>();
        if (!dialog) {
            ADD_FAILURE() << "no open dialog shown";
            return;
        }
        dialog->selectFile(QString::fromLocal8Bit(missing));
        QTimer::singleShot(0, [&] {
            if (auto* box = shown<QMessageBox>()) {
                refused = true;
                box->done(QMessageBox::Ok);
            }
        });
        static_cast<QDialog*>(dialog)->accept();  // as the Open button does
        if (dialog->isVisible()) dialog->reject();
    });
    const std::optional<std::string> chosen = dialogs().getOpenFileName(nullptr);
    EXPECT_FALSE(refused);
    EXPECT_EQ(chosen, std::optional<std::string>(missing));
}

}  // namespace
