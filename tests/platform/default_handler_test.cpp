// The default handler: an exception in any handler ends in one error box, and the program
// carries on.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPushButton>
#include <QTimer>

#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "support/RecordingDialogs.h"

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

}  // namespace
