// A second application process in miniature: it does at start-up exactly what the application
// does before opening any window, handing a "quillet:" URL (or one of the redirect schemes the
// application was built with, given here as "--redirect-scheme=<scheme>") to the running instance.
#include "platform/UrlRouter.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString option = QStringLiteral("--redirect-scheme=");
    QStringList redirectSchemes;
    for (const QString& argument : QCoreApplication::arguments())
        if (argument.startsWith(option))
            redirectSchemes.append(argument.mid(option.size()));
    if (const std::optional<QUrl> url = UrlRouter::urlFromArguments(QCoreApplication::arguments(), redirectSchemes)) {
        if (UrlRouter::forwardToRunningInstance(*url, redirectSchemes))
            return 0;
    }
    // The application would start up normally from here.
    return 3;
}
