#pragma once

// A browser that notes each page it is asked to open and opens nothing.

#include "platform/UrlOpener.h"

#include <QList>

class RecordingUrlOpener final : public UrlOpener
{
public:
    bool open(const QUrl& url) override
    {
        opened.append(url);
        return true;
    }

    QList<QUrl> opened;
};
