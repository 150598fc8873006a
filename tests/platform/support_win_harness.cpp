#include "tests/platform/win_harness.h"

#ifdef _WIN32

// Against the system's own window services: input goes through the system's keyboard queue
// to the foreground window, pixels come back through a window DC, and the object count is the
// process's GDI handle count.

void harness::Reset(int, int) {}

bool harness::SimulatedFrame(int*, int*)
{
    return false;
}

void harness::KeyDown(unsigned virtualKey, bool)
{
    keybd_event(static_cast<BYTE>(virtualKey), 0, 0, 0);
}

void harness::KeyUp(unsigned virtualKey)
{
    keybd_event(static_cast<BYTE>(virtualKey), 0, KEYEVENTF_KEYUP, 0);
}

void harness::RequestClose()
{
    HWND window = GetActiveWindow();
    PostMessageA(window != nullptr ? window : GetForegroundWindow(), WM_SYSCOMMAND, SC_CLOSE, 0);
}

void harness::WaitIdle()
{
    // The system does not say when another thread of ours waits; give it time to get there.
    Sleep(200);
}

int harness::LiveDrawingObjects()
{
    // Some implementations keep no count (Wine answers 0); tests then skip the counts.
    DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    return count == 0 ? -1 : static_cast<int>(count);
}

std::vector<COLORREF> harness::ShownPixels(const char* caption, int* width, int* height)
{
    std::vector<COLORREF> pixels;
    HWND window = FindWindowA(nullptr, caption);
    RECT client{};
    GetClientRect(window, &client);
    *width = client.right;
    *height = client.bottom;
    HDC dc = GetDC(window);
    for (int y = 0; y < client.bottom; ++y) {
        for (int x = 0; x < client.right; ++x) {
            pixels.push_back(GetPixel(dc, x, y));
        }
    }
    ReleaseDC(window, dc);
    return pixels;
}

#else

#include "platform/portable/hosts/headless/headless_display.h"

namespace {
int frameBorder = 4;
int frameCaption = 20;
} // namespace

void harness::Reset(int border, int caption)
{
    headless::ResetDisplay();
    headless::SetFrame(border, caption);
    frameBorder = border;
    frameCaption = caption;
}

bool harness::SimulatedFrame(int* extraWidth, int* extraHeight)
{
    *extraWidth = 2 * frameBorder;
    *extraHeight = 2 * frameBorder + frameCaption;
    return true;
}

void harness::KeyDown(unsigned virtualKey, bool repeat)
{
    headless::KeyDown(virtualKey, repeat);
}

void harness::KeyUp(unsigned virtualKey)
{
    headless::KeyUp(virtualKey);
}

void harness::RequestClose()
{
    headless::RequestClose();
}

void harness::WaitIdle()
{
    headless::WaitIdle();
}

int harness::LiveDrawingObjects()
{
    return headless::LiveDrawingObjects();
}

std::vector<COLORREF> harness::ShownPixels(const char* caption, int* width, int* height)
{
    auto view = headless::TopWindow(caption);
    *width = view ? view->shownWidth : 0;
    *height = view ? view->shownHeight : 0;
    return view ? view->pixels : std::vector<COLORREF>{};
}

#endif
