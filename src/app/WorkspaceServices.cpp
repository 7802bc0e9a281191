#include "app/WorkspaceServices.h"

#include "app/AppServices.h"
#include "chat/MeetingChatService.h"

WorkspaceServices WorkspaceServices::of(AppServices& services)
{
    return {
        .store = services.store(),
        .settings = services.settings(),
        .clock = services.clock(),
        .scheduler = services.scheduler(),
        .recordings = services.recordings(),
        .chatSaving = services.chatSaving(),
        .urlOpener = services.urlOpener(),
        .account = services.account(),
        .summarizer = services.summarizer(),
        .cloud = services.cloud(),
        .eventLinks = services.eventLinks(),
        .makeChat = [&services] { return services.makeChatService(); },
    };
}
