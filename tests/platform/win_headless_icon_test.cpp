// Icon resources: the program's table, looked up by number, becomes the window's icon.

#include <gtest/gtest.h>

#include "platform/portable/hosts/headless/headless_display.h"
#include "platform/portable/resources.h"
#include "platform/windowing.h"
#include "tests/platform/win_harness.h"

namespace {

const uint32_t small[16 * 16] = {};
const uint32_t large[32 * 32] = {};
const IconImage images[] = {{16, 16, small}, {32, 32, large}};
const IconResource table[] = {{128, 2, images}};

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM first, LPARAM second)
{
    return DefWindowProcA(window, message, first, second);
}

HWND WindowWithIcon(HICON icon)
{
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(WNDCLASSEXA);
    wc.lpfnWndProc = Proc;
    wc.hIcon = icon;
    wc.lpszClassName = "IconTest";
    EXPECT_NE(RegisterClassExA(&wc), 0);
    return CreateWindowExA(0, "IconTest", "Icon test", WS_CAPTION, 0, 0, 64, 64, nullptr, nullptr,
                           nullptr, nullptr);
}

TEST(Icons, TheProgramsIconBecomesTheWindowIconAtItsLargestSize)
{
    harness::Reset();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(128));
    ASSERT_NE(icon, nullptr);
    HWND window = WindowWithIcon(icon);
    auto view = headless::TopWindow("Icon test");
    ASSERT_TRUE(view.has_value());
    EXPECT_EQ(view->iconWidth, 32);
    EXPECT_EQ(view->iconHeight, 32);
    DestroyWindow(window);
}

TEST(Icons, AMissingIconLoadsAsNullAndTheWindowHasNone)
{
    harness::Reset();
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(129));
    EXPECT_EQ(icon, nullptr);
    HWND window = WindowWithIcon(icon);
    auto view = headless::TopWindow("Icon test");
    ASSERT_TRUE(view.has_value());
    EXPECT_EQ(view->iconWidth, 0);
    DestroyWindow(window);
}

} // namespace

extern "C" const IconResource* tovaliskIconResources(int* count)
{
    *count = 1;
    return table;
}
