#pragma once

#include "platform/UrlOpener.h"

#include <QObject>
#include <QStringList>

class QProcess;

// The desktop's default handler for a link, asked through its opener programs: xdg-open, which
// picks the desktop's own, then gio, which asks the session's handler directly and works where
// xdg-open gives up without a display variable. An opener counts as having opened the link when
// it ends successfully; one that cannot start or that fails is reported through `failed`, so a
// sign-in waiting for the browser ends at once instead of waiting for a page nobody sees.
//
// Only what UrlOpener::mayOpen() accepts is handed over: links come from invitations and other
// text anyone can write, and the desktop hands "file:", "smb:" or our own "quillet:" links to
// programs that run files, mount shares or sign the user into the sender's account. A refused
// link is logged by its scheme only; the rest may hold a token. Main thread only.
class DesktopUrlOpener final : public UrlOpener
{
public:
    DesktopUrlOpener();
    // An opener still running is stopped; a browser it started stays open.
    ~DesktopUrlOpener() override;

    using UrlOpener::open;
    bool open(const QUrl& url, Failed failed) override;
    bool openFolder(const QString& path) override;

private:
    struct Attempt
    {
        QString target; // what the opener is given
        QString scheme; // what may be logged of it
        Failed failed;
    };

    // Starts the first opener from `first` on that exists; false when none does.
    bool launch(Attempt attempt, qsizetype first);
    void ended(QProcess* process, bool succeeded, bool triedNothing, Attempt attempt, qsizetype next);

    QObject m_running; // parent of the opener processes
};
