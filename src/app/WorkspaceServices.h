#pragma once

#include "app/MeetingActions.h"
#include "chat/ModelContextBox.h"

#include <functional>
#include <memory>

class AppServices;
class Clock;
class MeetingChatService;
class Scheduler;
class Settings;
class RecordingController;

// What a meeting's workspace reads and calls, made by the composition root and handed down.
struct WorkspaceServices
{
    static WorkspaceServices of(AppServices& services);

    ModelContext& store;
    Settings& settings;
    const Clock& clock;
    Scheduler& scheduler;
    RecordingController& recordings; // what the pages show of a recording
    // What saving means for the chat: the store commits at once.
    ModelContextBox chatSaving;
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
        return { store, account, summarizer, cloud, eventLinks, urlOpener };
    }
};
