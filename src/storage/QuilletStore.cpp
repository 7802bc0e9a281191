#include "storage/QuilletStore.h"

#include "platform/AppIdentity.h"
#include "storage/ModelContext.h"

#include <QDir>
#include <QStandardPaths>

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

} // namespace QuilletStore
