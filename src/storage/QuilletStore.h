#pragma once

#include <QString>
#include <memory>

class ModelContext;

// The application's one store file, "Quillet.store" in its own application-data folder.
namespace QuilletStore {

QString containerName();
QString storeFilePath();
// Nothing (and the reason in `error`) when the file cannot be opened as a store. The
// application opens storeFilePath() once at start-up and cannot run without it.
std::unique_ptr<ModelContext> open(const QString& filePath, QString* error);

} // namespace QuilletStore
