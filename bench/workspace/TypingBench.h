#pragma once

// A person typing into a meeting's notes on the application's services: what the archive
// writes while they type in a large library, and the main thread's time per key at the end of
// long notes, with the checkpoints of the store's log the main thread ran meanwhile.
void benchTyping(int libraryMeetings);
