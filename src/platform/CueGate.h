#pragma once

#include <QtGlobal>

// Our own sound cues are heard by the system-audio monitor, which on this platform cannot
// exclude our process. The player marks how long a cue sounds; the system-audio capture
// replaces its samples by zeros while the mark (plus a tail) lasts. Lock-free, any thread.
namespace CueGate {

// Extra time after a cue's end during which the capture still zeroes samples.
inline constexpr qint64 kTailMs = 250;

// Called when a cue starts; durationMs is the cue's length.
void notePlayback(qint64 durationMs);

// True while a cue (or its tail) sounds.
bool isActive();

// For tests: forget any mark.
void reset();

// For tests: where the latest mark ends, in milliseconds of std::chrono::steady_clock; 0 when
// nothing was marked since reset().
qint64 markedUntilMs();

} // namespace CueGate
