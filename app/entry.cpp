#include <cstdio>

#include "app/main_window.h"
#include "app/shell.h"
#include "capture/capture_ring.h"
#include "capture/capture_tick.h"
#include "core/detector.h"
#include "core/tool_state.h"
#include "platform/multimedia.h"
#include "platform/windowing.h"
#include "ui/chart.h"
#include "ui/panel.h"

namespace {

// What is missing goes to stderr as one line and, where a GUI program has no console to show
// it, into a message box. Exit code 1.
int Fail(const char* missing)
{
    std::fprintf(stderr, "tovalisk: %s\n", missing);
#ifdef _WIN32
    MessageBoxA(nullptr, missing, "Tovalisk", MB_OK | MB_ICONERROR);
#endif
    return 1;
}

void RunMessageLoop(MSG& message)
{
    for (;;) {
        if (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
            const BOOL got = GetMessageA(&message, nullptr, 0, 0);
            if (got == 0) {
                return;
            }
            if (got > 0) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        } else {
            WaitMessage();
        }
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    switch (OpenCapture()) {
    case kCaptureOpened:
        break;
    case kCaptureNoDevice:
        return Fail("no sound input device is available");
    case kCaptureNoMemory:
        return Fail("not enough memory for the capture buffers");
    }

    ResetDetector();
    InitToolState();
    captureRing.queuedTo.store(0);
    captureRing.devicePosition.store(0);
    captureRing.analysedTo.store(0);
    captureRing.lostSamples.store(0);
    tickState.lastDisplayTime.store(0);

    StartCapture();

    shell.instance = instance;
    if (!RegisterMainWindowClass(instance)) {
        CloseCapture();
        return Fail("the main window class could not be registered");
    }

    HWND window = CreateMainWindow(instance);
    if (window == nullptr) {
        // Creation may have got as far as starting the tick; each of these undoes only what
        // was done.
        StopTick();
        ChartDestroy();
        PanelDestroy();
        WaitForTicks();
        CloseCapture();
        return Fail("the main window could not be created");
    }

    SetClientSize(200, 300);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    timeBeginPeriod(1);

    MSG message{};
    RunMessageLoop(message);

    timeEndPeriod(1);
    // The window is gone, so no tick can be held in its send any more.
    WaitForTicks();
    CloseCapture();
    return static_cast<int>(message.wParam);
}
