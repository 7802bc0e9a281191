#pragma once

// Meetings and folders for tests of lists that sort and group by date: each dated back from
// the test's fixed now and inserted into the store, unsaved.
//
//   Folder* work = DatedLibrary::folder(store.context(), kNow, "Work", 1);
//   DatedLibrary::meeting(store.context(), kNow, "Standup", 2, work); // two days ago, in Work

#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"

#include <QDateTime>
#include <QString>

namespace DatedLibrary {

// Started a minute before now's time of day, `daysAgo` days back.
inline Meeting* meeting(
    ModelContext& store, const QDateTime& now, const QString& title, int daysAgo, Folder* folder = nullptr)
{
    auto* made = new Meeting(title, now.addDays(-daysAgo).addSecs(-60));
    store.insert(made);
    made->setFolder(folder);
    return made;
}

// Made `100 - order` days before now: a larger `order` is a newer folder.
inline Folder* folder(ModelContext& store, const QDateTime& now, const QString& name, int order)
{
    auto* made = new Folder(name, QStringLiteral("briefcase"), {});
    made->setCreatedAt(now.addDays(-100 + order));
    store.insert(made);
    return made;
}

} // namespace DatedLibrary
