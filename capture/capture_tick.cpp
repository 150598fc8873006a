#include "capture/capture_tick.h"

#include <chrono>
#include <thread>

#include "app/shell.h"
#include "capture/capture_ring.h"
#include "core/detector.h"
#include "core/tool_state.h"

TickState tickState;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

void RunTick()
{
    CaptureRing& r = captureRing;

    MMTIME reported{};
    reported.wType = TIME_SAMPLES;
    // A failed query tells nothing; the last position stands.
    if (waveInGetPosition(r.device, &reported, sizeof(MMTIME)) == MMSYSERR_NOERROR) {
        NoteDevicePosition(reported.u.sample);
    }

    if (!TopUp()) {
        return;
    }

    // devicePosition never passes queuedTo, so nothing that was not recorded is read.
    const uint32_t devicePosition = r.devicePosition.load(kRelaxed);
    uint32_t analysedTo = r.analysedTo.load(kRelaxed);
    while (AnalysisDue(analysedTo, devicePosition)) {
        ProcessSample(analysedTo, SampleAt(analysedTo));
        ++analysedTo;
    }
    r.analysedTo.store(analysedTo, kRelaxed);

    const uint32_t interval = toolState.settings.displayInterval.load(kRelaxed);
    if (DisplayDue(timeGetTime(), tickState.lastDisplayTime.load(kRelaxed), interval)) {
        // Before the window's handle is known the display tick goes nowhere.
        if (HWND window = shell.mainWindow.load(); window != nullptr) {
            SendMessageA(window, WM_USER, 0, 0);
        }
        tickState.lastDisplayTime.store(timeGetTime(), kRelaxed);
    }
}

} // namespace

void StartTick()
{
    tickState.stopping.store(0);
    tickState.timer = timeSetEvent(10, 10, CaptureTick, 0, TIME_PERIODIC);
}

void StopTick()
{
    tickState.stopping.store(1);
    if (tickState.timer != 0) {
        timeKillEvent(tickState.timer);
        tickState.timer = 0;
    }
}

void WaitForTicks()
{
    while (tickState.inFlight.load() != 0) {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void CALLBACK CaptureTick(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR)
{
    // Counted before the check (both sequentially consistent): either WaitForTicks sees this
    // tick in flight, or this tick sees `stopping` and leaves everything alone.
    tickState.inFlight.fetch_add(1);
    if (tickState.stopping.load() == 0) {
        RunTick();
    }
    tickState.inFlight.fetch_sub(1);
}
