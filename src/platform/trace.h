#pragma once
// The diagnostic trace: what the program did and why (offices started, restarted and
// killed, each document's steps with their times, the faces text was drawn with).
// Off until a front end turns it on; one line a call, whole even from many threads.
#include <cstdio>
#include <string_view>

namespace kx {

// Where the lines go: an open stream the caller keeps open (standard error or a file),
// or nullptr to turn the trace off.
void SetTraceStream(FILE* stream);
bool TraceOn();
// Writes "<seconds since start> [<thread>] <line>"; nothing when the trace is off.
// Control characters in `line` are written as escapes, so one call is one line.
void Trace(std::string_view line);

}  // namespace kx
