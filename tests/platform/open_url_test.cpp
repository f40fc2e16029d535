// The desktop's default application for a working copy, as the window will open it: a private
// HOME with ~/.config/mimeapps.list naming a desktop entry in ~/.local/share/applications, and
// QDesktopServices::openUrl in a process of its own on an X server of its own (Xvfb). Qt hands a
// file to xdg-open there; xdg-open asks xdg-mime for the type's default, as we do.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QProcess>
#include <QStandardPaths>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/Bitmap24.h"
#include "platform/desktop/DesktopApplications.h"
#include "platform/png/PngWriter.h"
#include "support/CoreApp.h"
#include "support/TempDir.h"

using namespace vorlr;
using vorlr::testing::TempDir;

namespace {

void writeText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// An X server on a display no one uses, for as long as the test runs.
class VirtualDisplay {
public:
    VirtualDisplay() {
        server_.setProgram("Xvfb");
        server_.setArguments({"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "320x240x24"});
        server_.start();
        if (!server_.waitForStarted(20000)) return;
        QByteArray out;
        while (!out.contains('\n') && server_.waitForReadyRead(20000))
            out += server_.readAllStandardOutput();
        if (out.trimmed().size()) display_ = ":" + QString::fromLatin1(out.trimmed());
    }
    ~VirtualDisplay() {
        server_.terminate();
        if (!server_.waitForFinished(10000)) server_.kill();
        server_.waitForFinished(10000);
    }
    const QString& name() const { return display_; }

private:
    QProcess server_;
    QString display_;
};

struct Finished {
    int exitCode = -1;
    QString output;
};

Finished run(const QString& program, const QStringList& args, const QProcessEnvironment& env) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(60000)) p.kill();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAll())};
}

TEST(DefaultApplication, OpenUrlStartsTheEntryThatMimeappsListNames) {
    vorlr::testing::coreApp("open_url_test");
    if (QStandardPaths::findExecutable("xdg-open").isEmpty())
        GTEST_SKIP() << "xdg-open is not installed (Debian package xdg-utils)";
    if (QStandardPaths::findExecutable("Xvfb").isEmpty())
        GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
    if (QStandardPaths::findExecutable("file").isEmpty())
        GTEST_SKIP() << "file is not installed: xdg-mime finds a file's type with it";

    TempDir dir;
    const std::string home = dir.file("home");
    const std::string script = home + "/bin/record-arguments";
    const std::string recorded = home + "/arguments";
    writeText(script, "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + recorded + ".tmp' && mv '" +
                          recorded + ".tmp' '" + recorded + "'\n");
    ::chmod(script.c_str(), 0755);
    writeText(home + "/.local/share/applications/vorlr-test-recorder.desktop",
              "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + script + " %f\n");
    writeText(home + "/.config/mimeapps.list",
              "[Default Applications]\nimage/png=vorlr-test-recorder.desktop;\n");
    // xdg-mime reads the type from the content: a real picture.
    const std::string png = dir.file("work/working copy.png");
    const auto bytes = encodePng(Bitmap24(4, 3));
    writeText(png, std::string(bytes.begin(), bytes.end()));
    std::filesystem::create_directories(dir.file("runtime"));
    ::chmod(dir.file("runtime").c_str(), 0700);

    // The user's environment without a desktop: only HOME, the XDG folders at their defaults.
    QProcessEnvironment env;
    const QProcessEnvironment ours = QProcessEnvironment::systemEnvironment();
    for (const char* keep : {"PATH", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
        if (ours.contains(keep)) env.insert(keep, ours.value(keep));
    env.insert("HOME", QString::fromStdString(home));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.file("runtime")));

    // Our list agrees with xdg-mime on the default.
    const Finished query = run("xdg-mime", {"query", "default", "image/png"}, env);
    EXPECT_EQ(query.output.trimmed().toStdString(), "vorlr-test-recorder.desktop");
    const QString h = QString::fromStdString(home);
    const DesktopApplications apps(XdgDirs{h + "/.config", {}, h + "/.local/share", {}, {}, h + "/.cache"});
    const auto forPng = apps.forFile(QString::fromStdString(png));
    ASSERT_FALSE(forPng.empty());
    EXPECT_EQ(forPng.front().id.toStdString(), "vorlr-test-recorder.desktop");

    // The offscreen platform of the window tests opens nothing: they need their own seam.
    env.insert("QT_QPA_PLATFORM", "offscreen");
    const Finished offscreen = run(VORLR_OPEN_URL_HELPER, {QString::fromStdString(png)}, env);
    EXPECT_EQ(offscreen.exitCode, 1);
    EXPECT_TRUE(offscreen.output.contains("offscreen refused")) << offscreen.output.toStdString();

    const VirtualDisplay display;
    ASSERT_FALSE(display.name().isEmpty()) << "Xvfb did not start";
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DISPLAY", display.name());
    const Finished opened = run(VORLR_OPEN_URL_HELPER, {QString::fromStdString(png)}, env);
    EXPECT_EQ(opened.exitCode, 0) << opened.output.toStdString();
    EXPECT_TRUE(opened.output.contains("xcb opened")) << opened.output.toStdString();
    for (int i = 0; i < 1500 && !std::filesystem::exists(recorded); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(readText(recorded), png + std::string(1, '\0'));
}

}  // namespace
