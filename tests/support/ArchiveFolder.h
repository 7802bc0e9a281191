#pragma once

// What an archiver wrote, read back from its folder once its queued jobs have run.

#include "archive/MeetingArchiver.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTest>

namespace ArchiveFolder {

// Waits for every job queued so far; the writer runs on its own thread.
inline bool drain(MeetingArchiver& archiver)
{
    const QFuture<void> idle = archiver.idle();
    return QTest::qWaitFor([&] { return idle.isFinished(); }, 20000);
}

// Every markdown file below the archive's root (path relative to it -> text).
inline QMap<QString, QString> markdownFiles(MeetingArchiver& archiver)
{
    QMap<QString, QString> files;
    const QDir root(archiver.archiveRoot());
    QDirIterator it(root.path(), { QStringLiteral("*.md") }, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            files.insert(root.relativeFilePath(file.fileName()), QString::fromUtf8(file.readAll()));
    }
    return files;
}

} // namespace ArchiveFolder
