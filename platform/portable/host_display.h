#pragma once

#include <cstdint>

// What the window half of the portable layer needs of its host: native top-level windows that
// show a client framebuffer, their frames and positions, input events, and a way to wake the
// thread that waits for them. All calls except WakeDisplayWaiter come from the window thread.

struct IconImage;

namespace host {

// A host's native window; each host defines it.
struct DisplayWindow;

// Thickness of the frame around the client area, in pixels.
struct DisplayFrame {
    int left;
    int top;
    int right;
    int bottom;
};

// Tells CreateDisplayWindow to let the host choose where the window goes.
inline constexpr int kDefaultPosition = INT32_MIN;

struct DisplayWindowParams {
    const char* caption;
    // Screen position of the client area's top-left corner, or kDefaultPosition for both.
    int clientX;
    int clientY;
    int clientWidth;
    int clientHeight;
    // The largest image of the class's icon, or null.
    const IconImage* icon;
};

// The frame a new window will get (the real one may be known only after creation).
DisplayFrame ExpectedDisplayFrame();

// Created hidden; nullptr when the host cannot make a window.
DisplayWindow* CreateDisplayWindow(const DisplayWindowParams& params);
void DestroyDisplayWindow(DisplayWindow* window);
DisplayFrame DisplayWindowFrame(DisplayWindow* window);
void DisplayWindowPosition(DisplayWindow* window, int* clientX, int* clientY);
void MoveDisplayWindow(DisplayWindow* window, int clientX, int clientY, int clientWidth,
                       int clientHeight);
void ShowDisplayWindow(DisplayWindow* window, bool visible, bool minimised);
// Shows new client pixels: 0x00RRGGBB, top row first, `width` values per row.
void PresentDisplayWindow(DisplayWindow* window, const uint32_t* pixels, int width, int height);

enum class DisplayEventKind { KeyDown, KeyUp, CloseRequest, Exposed };

struct DisplayEvent {
    DisplayEventKind kind;
    DisplayWindow* window;
    // Windows virtual-key code for key events.
    unsigned virtualKey;
    // A key-down produced by the keyboard's auto-repeat.
    bool repeat;
};

// Takes the next pending event without blocking; false when there is none.
bool PollDisplayEvent(DisplayEvent* event);
// Blocks until an event may be pending or WakeDisplayWaiter was called since the caller's last
// return from here; spurious returns are allowed.
void WaitDisplayEvent();
// Any thread: makes a current or the next WaitDisplayEvent return.
void WakeDisplayWaiter();

} // namespace host
