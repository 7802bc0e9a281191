#pragma once

#include <QString>

// Stands in for the application bundle's identity. The identifier is fixed when the
// executable is linked: "com.orvane.quillet" for the application, with ".test" appended
// for test executables.
namespace AppIdentity {

QString bundleIdentifier();

// The folder name that keeps development and test data apart from the user's:
// "Quillet-Dev" for an identifier ending in ".dev", "Quillet-Test" for ".test", else "Quillet".
QString containerName(const QString& bundleIdentifier);
QString containerName();

} // namespace AppIdentity
