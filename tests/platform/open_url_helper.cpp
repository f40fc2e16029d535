// Opens a file as "Open in default application" does, through QDesktopServices on the platform
// the environment names (QT_QPA_PLATFORM); prints the platform and "opened" or "refused".
#include <QDesktopServices>
#include <QGuiApplication>
#include <QUrl>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) return 2;
    const bool opened =
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])));
    std::printf("%s %s\n", qPrintable(QGuiApplication::platformName()),
                opened ? "opened" : "refused");
    return opened ? 0 : 1;
}
