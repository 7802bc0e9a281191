// Reads and writes one keychain item through the desktop secret service and prints the
// results; run by the tests against buses where the service is missing or never answers.
#include "platform/LibsecretStore.h"
#include "system/Keychain.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int limitMs = args.size() > 1 ? args[1].toInt() : 5000;
    LibsecretStore store { std::chrono::milliseconds(limitMs) };
    Keychain keychain(store);
    const std::optional<QString> before = keychain.string(QStringLiteral("probe-account"));
    const bool written = keychain.set(QStringLiteral("probe-secret"), QStringLiteral("probe-account"));
    keychain.remove(QStringLiteral("probe-account"));
    std::printf("read=%s write=%s\n", before ? "present" : "absent", written ? "true" : "false");
    std::fflush(stdout);
    return 0;
}
