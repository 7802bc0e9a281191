#pragma once

#include <QString>

// Why the store file could not be opened, read or written: SQLite's own words ("file is not a
// database"), which the log and the window that reports an unusable store show as they are.
struct StoreError
{
    QString message;
};
