#include "app/QuilletStore.h"

#include "platform/AppIdentity.h"
#include "platform/Log.h"
#include "storage/ModelContext.h"

#include <QDir>
#include <QStandardPaths>
#include <cstdlib>

namespace QuilletStore {

QString containerName()
{
    return AppIdentity::containerName();
}

QString storeFilePath()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base + QLatin1Char('/') + containerName() + QLatin1String("/Quillet.store");
}

std::unique_ptr<ModelContext> open(const QString& filePath, QString* error)
{
    return ModelContext::open(filePath, error);
}

ModelContext& shared()
{
    static const std::unique_ptr<ModelContext> context = [] {
        QString error;
        auto opened = open(storeFilePath(), &error);
        if (!opened) {
            // Nothing works without the store; stop before any window shows.
            Log::write(QStringLiteral("Failed to open Quillet store: ") + error);
            std::exit(EXIT_FAILURE);
        }
        return opened;
    }();
    return *context;
}

} // namespace QuilletStore
