#pragma once

#include <QString>
#include <memory>

class ModelContext;

// The application's one store file, "Quillet.store" in its own application-data folder.
namespace QuilletStore {

QString containerName();
QString storeFilePath();
std::unique_ptr<ModelContext> open(const QString& filePath, QString* error);
// Opens storeFilePath() on first use. The application cannot run without its store: on failure
// this prints "Failed to open Quillet store: <error>" and ends the process with a failure status.
ModelContext& shared();

} // namespace QuilletStore
