// Pictures of the viewer on the demo archive, for the README:  readme_shots OUTDIR
// Writes the demo archive to OUTDIR/demo, starts the main window there, views a few entries and
// saves text.png, image.png and media.png. A first window makes the background from the dialog
// background image; a second one, as at the next start, shows it tiled.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QComboBox>
#include <QTreeView>
#include <cstdio>

#include "app/Unit1.h"
#include "lib/DemoArchive.h"
#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"

namespace {

// Any message box would wait for a click; print the text instead.
struct PrintingDialogs final : vorlr::DialogSeam {
    int shown = 0;
    void showError(QWidget*, const std::string&, const std::string& text) override {
        std::fprintf(stderr, "readme_shots: %s\n", text.c_str());
        ++shown;
    }
    void showInformation(QWidget* p, const std::string& t, const std::string& text) override {
        showError(p, t, text);
    }
    std::optional<std::string> getOpenFileName(QWidget*) override { return std::nullopt; }
};

void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool select(vorlr::TForm1& f, const char* name, int settleMs = 400) {
    auto* model = f.tvFiles->model();
    const QModelIndexList found = model->match(model->index(0, 0), Qt::DisplayRole,
                                               QString::fromLatin1(name), 1,
                                               Qt::MatchExactly | Qt::MatchRecursive);
    if (found.isEmpty()) return false;
    f.tvFiles->setCurrentIndex(found.first());
    settle(settleMs);
    return true;
}

bool shoot(vorlr::TForm1& f, const QString& path) {
    QImage image;
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        image = f.screen()->grabWindow(f.winId()).toImage();
    if (image.isNull()) image = f.grab().toImage();
    return image.save(path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: readme_shots OUTDIR\n");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const std::string demoDir = (out + QStringLiteral("/demo")).toStdString();
    vorlr::samples::writeDemo(demoDir);
    QDir::setCurrent(QString::fromStdString(demoDir));
    QFile::remove(QStringLiteral("BACK.BMP"));

    vorlr::Application app(argc, argv);
    PrintingDialogs dialogs;
    vorlr::setDialogs(&dialogs);
    int status = 0;
    {
        // The first run makes BACK.BMP from this image.
        vorlr::TForm1 f;
        f.show();
        settle(300);
        f.cbFiles->setCurrentIndex(0);
        f.cbFilesChange();
        f.tvFiles->expandAll();
        if (!select(f, "DIALOGBACKGROUND_LIGHT.KMG")) status = 1;
        f.close();
    }
    {
        // The next run starts with the tiled background.
        vorlr::TForm1 f;
        f.show();
        f.activateWindow();
        settle(300);
        f.cbFiles->setCurrentIndex(0);
        f.cbFilesChange();
        f.tvFiles->expandAll();
        const struct {
            const char* entry;
            const char* file;
            int settleMs;  // a sound plays a while, so the bar has moved
        } shots[] = {{"NOTICE.TXT", "text.png", 400}, {"ICONS.KMG", "image.png", 400},
                     {"THEME.MP3", "media.png", 1500}};
        for (const auto& s : shots) {
            if (!select(f, s.entry, s.settleMs) || !shoot(f, out + "/" + QString::fromLatin1(s.file))) {
                std::fprintf(stderr, "readme_shots: could not take %s\n", s.file);
                status = 1;
            }
        }
        f.close();
    }
    vorlr::setDialogs(nullptr);
    return status != 0 || dialogs.shown != 0 ? 1 : 0;
}
