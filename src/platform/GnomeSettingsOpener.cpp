#include "platform/GnomeSettingsOpener.h"

#include <QProcess>
#include <QStandardPaths>

void GnomeSettingsOpener::open(Pane pane)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gnome-control-center"));
    if (program.isEmpty())
        return;
    QStringList arguments;
    switch (pane) {
    case Pane::Microphone:
        arguments = { QStringLiteral("sound") };
        break;
    }
    QProcess::startDetached(program, arguments);
}
