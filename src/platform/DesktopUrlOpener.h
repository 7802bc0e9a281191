#pragma once

#include "platform/UrlOpener.h"

// The desktop's default handler for web URLs (needs a QGuiApplication).
//
// Links of Quillet's own scheme are refused: the desktop would hand them straight back to our
// URL router, and such a link in calendar data (a call link anyone can write into an
// invitation) would sign the user into the sender's account. Quillet never needs the desktop to
// open its own links; sign-in links arrive from the user's mail program.
class DesktopUrlOpener final : public UrlOpener
{
public:
    bool open(const QUrl& url) override;
};
