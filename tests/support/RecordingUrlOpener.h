#pragma once

// A browser that notes each page (and folder, as a "file:" URL) it is asked to open and opens
// nothing.

#include "platform/UrlOpener.h"

#include <QList>

class RecordingUrlOpener final : public UrlOpener
{
public:
    using UrlOpener::open;
    bool open(const QUrl& url, Failed) override
    {
        opened.append(url);
        return true;
    }
    bool openFolder(const QString& path) override
    {
        opened.append(QUrl::fromLocalFile(path));
        return true;
    }

    QList<QUrl> opened;
};
