#pragma once

// Test controls of the headless host's display half. The windows are simulated: each has a
// frame of the configured size, a position, and the client pixels as last presented (after
// EndPaint or ReleaseDC), which tests read back. Key presses, held keys and close requests
// go to the focus window, the most recently created one still alive.

#include <optional>
#include <string>
#include <vector>

#include "platform/windowing.h"

namespace headless {

// Forgets every window, class, queue, key state and pending event, and restores the default
// frame (4-pixel borders, 20-pixel caption). Call with no window thread running.
void ResetDisplay();

// The frame of windows created from now on: `border` on every side plus `caption` on top.
void SetFrame(int border, int caption);

struct WindowView {
    std::string caption;
    // Outer rectangle in screen pixels, and the client area's position and size in it.
    RECT outer;
    int clientX;
    int clientY;
    int clientWidth;
    int clientHeight;
    bool visible;
    bool minimised;
    // How many times the client pixels were presented.
    int presents;
    // Size of the window icon; 0 when the window has none.
    int iconWidth;
    int iconHeight;
    // The client pixels as last presented, COLORREF values (0x00BBGGRR), top row first.
    int shownWidth;
    int shownHeight;
    std::vector<COLORREF> pixels;

    COLORREF Pixel(int x, int y) const;
};

// The most recently created live window with that caption.
std::optional<WindowView> TopWindow(const std::string& caption);
// Captions of the live windows, oldest first.
std::vector<std::string> WindowCaptions();

// The next window the program asks for cannot be made, as when a real host has no display
// left: CreateWindowExA fails before the window procedure sees anything.
void FailNextWindowCreation();

// Input to the focus window, as the keyboard and the window frame deliver it.
void KeyDown(unsigned virtualKey, bool repeat = false);
void KeyUp(unsigned virtualKey);
// Down, `repeats` auto-repeated downs, then up.
void PressKey(unsigned virtualKey, int repeats = 0);
void RequestClose();

// Blocks until a window thread waits for messages with nothing left to handle (true), or until
// every window created since the reset is gone and no thread waits (false). Meant for one
// window thread at a time.
bool WaitIdle();
// Whether a window thread waits for messages with nothing left to handle right now.
bool IsIdle();

// Drawing objects the program created and has not released (stock objects are not counted).
int LiveDrawingObjects();

} // namespace headless
