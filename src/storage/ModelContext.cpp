#include "storage/ModelContext.h"

#include "storage/ChatMessage.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"

class StoreDatabase {
};

ModelContext::ModelContext(std::unique_ptr<StoreDatabase> database)
    : m_database(std::move(database))
{
}

ModelContext::~ModelContext() = default;

std::unique_ptr<ModelContext> ModelContext::open(const QString&, QString*)
{
    return std::unique_ptr<ModelContext>(new ModelContext(std::make_unique<StoreDatabase>()));
}

QString ModelContext::filePath() const { return {}; }
void ModelContext::insert(Meeting* meeting) { meeting->setParent(this); m_meetings.append(meeting); emit meetingInserted(meeting); }
void ModelContext::insert(Folder* folder) { folder->setParent(this); m_folders.append(folder); }
void ModelContext::remove(Meeting* meeting) { m_meetings.removeOne(meeting); emit meetingRemoved(meeting->id()); meeting->deleteLater(); }
void ModelContext::remove(Folder* folder) { m_folders.removeOne(folder); folder->deleteLater(); }
void ModelContext::remove(TranscriptSegment* segment) { segment->deleteLater(); }
void ModelContext::remove(ChatMessage* message) { message->deleteLater(); }
bool ModelContext::save(QString*) { emit saved(); return true; }
void ModelContext::rollback() {}
bool ModelContext::hasChanges() const { return false; }
QList<Meeting*> ModelContext::fetchMeetings(const MeetingFetch&) const { return m_meetings; }
int ModelContext::meetingCount() const { return int(m_meetings.size()); }
Meeting* ModelContext::meetingById(const QUuid& id) const
{
    for (Meeting* meeting : m_meetings)
        if (meeting->id() == id)
            return meeting;
    return nullptr;
}
QList<Folder*> ModelContext::fetchFolders() const { return m_folders; }
bool ModelContext::load(QString*) { return true; }
void ModelContext::adoptChildren(Meeting*) {}
void ModelContext::loadChildren(Meeting*) {}
void ModelContext::markDirty(QObject*) {}
void ModelContext::recordInsert(QObject*) {}
void ModelContext::discardRecord(QObject*) {}
