#include "platform/portable/hosts/headless/headless_display.h"
#include "tests/platform/win_harness.h"

namespace {
int frameBorder = 4;
int frameCaption = 20;
}  // namespace

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
