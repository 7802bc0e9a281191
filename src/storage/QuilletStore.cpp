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

Result<std::unique_ptr<ModelContext>, StoreError> open(const QString& filePath)
{
    return ModelContext::open(filePath);
}

} // namespace QuilletStore
