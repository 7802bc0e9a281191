#include "platform/AppIdentity.h"

namespace AppIdentity {

QString containerName(const QString& bundleIdentifier)
{
    if (bundleIdentifier.endsWith(QLatin1String(".dev")))
        return QStringLiteral("Quillet-Dev");
    if (bundleIdentifier.endsWith(QLatin1String(".test")))
        return QStringLiteral("Quillet-Test");
    return QStringLiteral("Quillet");
}

QString containerName()
{
    return containerName(bundleIdentifier());
}

} // namespace AppIdentity
