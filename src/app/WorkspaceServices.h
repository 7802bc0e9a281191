#pragma once

#include "app/MeetingActions.h"

#include <functional>
#include <memory>

class AppServices;
class ArchiveDebouncer;
class Clock;
class MeetingChatService;
class Scheduler;
class Settings;
class TranscriptionSession;

// What a meeting's workspace reads and calls, made by the composition root and handed down.
struct WorkspaceServices
{
    static WorkspaceServices of(AppServices& services);

    ModelContext& store;
    Settings& settings;
    const Clock& clock;
    Scheduler& scheduler;
    TranscriptionSession& session;
    MeetingArchiver& archiver;
    // The delayed archive writes of edits.
    ArchiveDebouncer& archiveDebouncer;
    UrlOpener& urlOpener;
    AccountService& account;
    MeetingSummarizer& summarizer;
    QuilletCloud& cloud;
    // The calendar's offers of an event to link a quick note to.
    EventLinks& eventLinks;
    // A chat service of the workspace's own.
    std::function<std::unique_ptr<MeetingChatService>()> makeChat;

    MeetingActions::Services actions() const
    {
        return { store, archiver, account, summarizer, cloud, eventLinks, urlOpener };
    }
};
