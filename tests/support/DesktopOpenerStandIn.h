#pragma once

// The desktop's opener programs (xdg-open, then gio) replaced, for the life of this object, by
// scripts that note how they were run and end with the status the test gives them; PATH names
// only their folder. A negative status leaves that program out.

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

class DesktopOpenerStandIn final
{
public:
    explicit DesktopOpenerStandIn(int xdgOpenStatus = 0, int gioStatus = 0)
        : m_oldPath(qgetenv("PATH"))
    {
        install("xdg-open", xdgOpenStatus);
        install("gio", gioStatus);
        qputenv("PATH", m_dir.path().toLocal8Bit());
    }
    ~DesktopOpenerStandIn() { qputenv("PATH", m_oldPath); }
    DesktopOpenerStandIn(const DesktopOpenerStandIn&) = delete;
    DesktopOpenerStandIn& operator=(const DesktopOpenerStandIn&) = delete;

    // One line per run, in order: the program's name and its arguments, space-separated.
    QStringList runs() const
    {
        QFile file(logPath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    QString logPath() const { return m_dir.filePath(QStringLiteral("runs.log")); }

    void install(const char* name, int status)
    {
        if (status < 0)
            return;
        QFile script(m_dir.filePath(QLatin1String(name)));
        if (!script.open(QIODevice::WriteOnly))
            qFatal("cannot write the %s stand-in", name);
        script.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"%1 $*\" >> '%2'\nexit %3\n")
                         .arg(QLatin1String(name), logPath())
                         .arg(status)
                         .toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QTemporaryDir m_dir;
    const QByteArray m_oldPath;
};
