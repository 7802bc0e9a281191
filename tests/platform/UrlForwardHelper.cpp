// A second application process in miniature: it does at start-up exactly what the application
// does before opening any window, handing a "quillet:" URL to the running instance.
#include "platform/UrlRouter.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (const std::optional<QUrl> url = UrlRouter::urlFromArguments(QCoreApplication::arguments())) {
        if (UrlRouter::forwardToRunningInstance(*url))
            return 0;
    }
    // The application would start up normally from here.
    return 3;
}
