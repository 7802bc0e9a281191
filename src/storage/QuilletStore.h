#pragma once

#include "format/Result.h"
#include "storage/StoreError.h"

#include <QString>
#include <memory>

class ModelContext;

// The application's one store file, "Quillet.store" in its own application-data folder.
namespace QuilletStore {

QString containerName();
QString storeFilePath();
// Fails with the reason when the file cannot be opened as a store. The application opens
// storeFilePath() once at start-up and cannot run without it.
Result<std::unique_ptr<ModelContext>, StoreError> open(const QString& filePath);

} // namespace QuilletStore
