#pragma once

#include "platform/UrlOpener.h"

// The desktop's default handler for web URLs (needs a QGuiApplication).
class DesktopUrlOpener final : public UrlOpener
{
public:
    bool open(const QUrl& url) override;
};
