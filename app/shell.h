#pragma once

#include <atomic>

#include "platform/windowing.h"

// The handles the rest of the program reaches the window through. The main window's handle
// is stored once creation returns and cleared when the window is destroyed; the capture tick
// reads it on the timer thread.
struct ShellState {
    HINSTANCE instance;
    std::atomic<HWND> mainWindow;
};

extern ShellState shell;

// Resizes the main window so that its client area is width x height, keeping its top-left
// corner; does nothing when it already is.
void SetClientSize(int width, int height);
