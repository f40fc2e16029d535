#include "app/Unit1.h"
#include "platform/Application.h"

int main(int argc, char** argv) {
    vorlr::Application app(argc, argv);
    vorlr::TForm1 Form1;
    Form1.show();
    return app.exec();
}
