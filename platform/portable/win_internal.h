#pragma once

#include "platform/windowing.h"

namespace portable {

// The instance handle main() hands to WinMain.
HINSTANCE ProgramInstance();

// Forgets every class, window, queue and key state, as at process start; pending sends return
// 0. Drawing objects stay (their count shows what a test leaked). Call with no window thread
// running.
void ResetWindowing();

} // namespace portable
