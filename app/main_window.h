#pragma once

#include "platform/windowing.h"

inline constexpr const char* kWindowClassName = "Tovalisk";

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM first, LPARAM second);
// Registers the main window's class; false when the platform refused it.
bool RegisterMainWindowClass(HINSTANCE instance);
// Creates the main window (its creation starts the chart, the font and the tick) and keeps
// its handle; null when it could not be created.
HWND CreateMainWindow(HINSTANCE instance);
