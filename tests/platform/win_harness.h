#pragma once

// What window and drawing tests need beyond the Win32 calls themselves: driving the input
// side and reading what the system does not report. This build drives the headless host; a
// Windows build of the same tests provides these with the system's own means.

#include <vector>

#include "platform/windowing.h"

namespace harness {

// A fresh window system for each test; `border` and `caption` set the simulated frame.
void Reset(int border = 4, int caption = 20);
// The frame Reset asked for, as outer minus client size; false where the system decides.
bool SimulatedFrame(int* extraWidth, int* extraHeight);
void KeyDown(unsigned virtualKey, bool repeat = false);
void KeyUp(unsigned virtualKey);
void RequestClose();
// Until the window thread waits with nothing left to do.
void WaitIdle();
// -1 where the system keeps no count.
int LiveDrawingObjects();
// The window's client pixels as last shown (COLORREF), empty when never shown.
std::vector<COLORREF> ShownPixels(const char* caption, int* width, int* height);

} // namespace harness
