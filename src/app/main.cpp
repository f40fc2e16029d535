#include <QWidget>

#include "platform/Application.h"

int main(int argc, char** argv) {
    vorlr::Application app(argc, argv);
    QWidget w(nullptr, Qt::FramelessWindowHint);
    w.resize(800, 600);
    w.show();
    return app.exec();
}
