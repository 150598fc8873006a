#include "app/main_window.h"

#include "app/shell.h"
#include "capture/capture_tick.h"
#include "ui/chart.h"
#include "ui/keys.h"
#include "ui/panel.h"

namespace {

void Paint(HWND window)
{
    // There is only one window; the kept handle is it once creation has returned.
    HWND kept = shell.mainWindow.load();
    HWND target = kept != nullptr ? kept : window;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(target, &paint);
    RECT client;
    GetClientRect(target, &client);
    PreparePanelText(dc);
    PaintChart(dc);
    PaintPanel(dc, client);
    EndPaint(target, &paint);
}

} // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM first, LPARAM second)
{
    switch (message) {
    case WM_CREATE:
        ChartCreate();
        PanelCreate();
        StartTick();
        return 0;
    case WM_DESTROY:
        StopTick();
        // A tick already past its check finds no window to send to.
        shell.mainWindow.store(nullptr);
        ChartDestroy();
        PanelDestroy();
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_KEYDOWN:
        return HandleKey(static_cast<UINT>(first & 0xFFFF));
    case WM_USER:
        return PlotColumn();
    default:
        return DefWindowProcA(window, message, first, second);
    }
}

bool RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(WNDCLASSEXA);
    windowClass.style = CS_CLASSDC;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    // Null when the program carries no icon; the class is registered all the same.
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(128));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = nullptr;
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = kWindowClassName;
    windowClass.hIconSm = nullptr;
    return RegisterClassExA(&windowClass) != 0;
}

HWND CreateMainWindow(HINSTANCE instance)
{
    HWND window = CreateWindowExA(0, kWindowClassName, "Tovalisk",
                                  WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 200, 300, nullptr, nullptr, instance, nullptr);
    shell.mainWindow.store(window);
    return window;
}
