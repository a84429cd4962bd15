#include "frmmain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    frmMain window;
    window.Form_Load();
    return app.exec();
}
