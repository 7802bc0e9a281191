// A person typing into the real meeting page in a process of its own, for the test that kills
// it: what a process killed right after the event loop has turned once still has in its store.
//
//   typing_child_process FOLDER NOTES TITLE
//       opens the application's services on FOLDER, makes a meeting, types NOTES into its notes
//       and TITLE into its title key by key, lets the event loop turn once, prints "typed" and
//       waits to be killed. Its archive's delays wait for a scheduler that never moves.

#include "app/WorkspaceServices.h"
#include "storage/Meeting.h"
#include "support/AppRig.h"
#include "ui/workspace/FinishedMeetingPage.h"
#include "ui/workspace/NotesEditor.h"

#include <QApplication>
#include <QTest>
#include <QTextEdit>
#include <cstdio>

namespace {

// Key by key, as a keyboard sends them: Qt Test's own clicks know ASCII only, so other
// characters come as a key with their text, as an input method hands them over.
void type(QWidget* field, const QString& text)
{
    field->setFocus();
    for (const QChar character : text) {
        if (character.unicode() < 0x80)
            QTest::keyClick(field, char(character.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(character), Qt::NoModifier);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 64;
    // The archive's delay never passes: whatever the test's pace, the file is behind the store
    // when the process is killed.
    AppRig rig({ .steppedDelays = true, .folder = args.at(1) });
    auto* meeting = new Meeting(QString(), QDateTime::currentDateTimeUtc());
    rig->store().insert(meeting);
    if (!rig->store().save().ok())
        return 2;
    FinishedMeetingPage view(*meeting, WorkspaceServices::of(*rig));
    view.show();
    auto* notes = view.findChild<NotesEditor*>(QStringLiteral("notesEditor"));
    auto* title = view.findChild<QTextEdit*>(QStringLiteral("titleField"));
    if (!notes || !title)
        return 3;
    type(notes, args.at(2));
    type(title, args.at(3));
    QCoreApplication::processEvents();
    std::printf("typed %s\n", qPrintable(meeting->id().toString(QUuid::WithoutBraces)));
    std::fflush(stdout);
    return app.exec();
}
