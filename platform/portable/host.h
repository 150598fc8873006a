#pragma once

// What the portable layer needs of the system it runs on. A host is picked at link time: the
// SDL host for the real program, the headless host for tests. Each half has a header of its
// own: sound input and the clock (host_sound.h), the window surface and input events
// (host_display.h).

#include "platform/portable/host_sound.h"
#include "platform/portable/host_display.h"

namespace host {

// Every platform operation reports itself here, so tests can check the order of calls; the
// real host ignores it. `detail` may be empty.
void LogCall(const char* operation, const char* detail = "");

} // namespace host
