#pragma once
// Whether Qt can open the display it is pointed at.

namespace kx {

// Tries, in a child process, what the window would do first: Qt's platform opens
// its display. A stale DISPLAY (a closed ssh session, a cron job's environment)
// makes Qt abort the whole program; the child takes that instead. Gives up after
// `seconds`.
bool QtDisplayOpens(int seconds = 10);

}  // namespace kx
