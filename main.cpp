#include "app/frmMain.h"
#include "platform/QtTranslations.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QtTranslations::install();
    frmMain window(QCoreApplication::arguments().mid(1));
    window.show();
    return app.exec();
}
