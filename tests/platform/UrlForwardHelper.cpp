// A second application process in miniature: it does at start-up exactly what the application
// does before opening any window, handing a "quillet:" URL to the running instance, or asking
// it for its main window.
#include "platform/UrlRouter.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (UrlRouter::handOverToRunningInstance(QCoreApplication::arguments().mid(1)))
        return 0;
    // The application would start up normally from here.
    return 3;
}
