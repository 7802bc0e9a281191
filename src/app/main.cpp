#include "platform/Log.h"
#include "ui/MainWindow.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    QApplication::setQuitOnLastWindowClosed(false);

    MainWindow window;
    window.show();
    Log::line("[Quillet] App launched");
    return QApplication::exec();
}
