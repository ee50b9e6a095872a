#pragma once
// Interrupts of a console run: SIGINT and SIGTERM are taken by a watching thread
// instead of ending the process.
#include <functional>

namespace kx {

// Blocks both signals in the calling thread (and the threads it starts from then
// on) and starts the watching thread. The first signal is only recorded; the second
// calls `hardStop` on the watching thread, which must end the process.
void WatchInterrupts(std::function<void(int signal)> hardStop);
// The first signal received, 0 while none came.
int InterruptSignal();

}  // namespace kx
