// A second application process in miniature: it does at start-up exactly what the application
// does before opening any window, handing a "quillet:" URL (or one of the redirect schemes the
// application was built with, given here as "--redirect-scheme=<scheme>") to the running
// instance, or, without one, asking it for its main window.
#include "platform/UrlRouter.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString option = QStringLiteral("--redirect-scheme=");
    QStringList redirectSchemes;
    QStringList arguments;
    for (const QString& argument : QCoreApplication::arguments().mid(1)) {
        if (argument.startsWith(option))
            redirectSchemes.append(argument.mid(option.size()));
        else
            arguments.append(argument);
    }
    switch (UrlRouter::handOverToRunningInstance(arguments, redirectSchemes)) {
    case UrlRouter::HandOver::Accepted:
        return 0;
    case UrlRouter::HandOver::Refused:
        return 4;
    case UrlRouter::HandOver::NoAnswer:
        break;
    }
    // The application would start up normally from here.
    return 3;
}
