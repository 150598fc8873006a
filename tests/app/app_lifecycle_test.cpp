// Start-up, shut-down and the failures on the way, for the real WinMain on the headless host.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/capture_ring.h"
#include "core/tool_state.h"
#include "platform/multimedia.h"
#include "tests/support/app_harness.h"

namespace {

using apptest::CountCalls;
using apptest::FindCall;
using apptest::FindLastCall;

// Asserts that the named calls come in this order in `log`, each found after the previous
// one, starting at `from`; returns the index of the last.
int ExpectInOrder(const std::vector<std::string>& log, std::initializer_list<const char*> names,
                  int from = 0)
{
    int at = from;
    for (const char* name : names) {
        const int found = FindCall(log, name, at);
        EXPECT_GE(found, 0) << name << " missing after entry " << at;
        if (found < 0) {
            return at;
        }
        at = found + 1;
    }
    return at - 1;
}

// Nothing of the program is left with the system.
void ExpectAllReleased()
{
    EXPECT_FALSE(headless::SoundIsOpen());
    EXPECT_EQ(headless::LiveTimers(), 0u);
    // A killed timer's thread ends on its own after its last call.
    apptest::Watched("the threads of killed timers", [] { headless::WaitTimerCalls(); });
    EXPECT_EQ(headless::TimerThreads(), 0u);
    EXPECT_EQ(headless::TimePeriodBalance(), 0);
    EXPECT_EQ(headless::LiveDrawingObjects(), 0);
    EXPECT_TRUE(headless::WindowCaptions().empty());
}

TEST(AppLifecycle, StartsAndShutsDownInOrder)
{
    apptest::App app;
    app.SetTone(440, 16000);
    app.Start(SW_SHOWNORMAL);
    ASSERT_FALSE(app.Ended());
    app.Run(200);

    std::vector<std::string> log = headless::CallLog();
    // The device is open and reset, with its four headers prepared, before it starts; it starts
    // before the window class is registered.
    ExpectInOrder(log, {"waveInOpen", "waveInPrepareHeader", "waveInPrepareHeader",
                        "waveInPrepareHeader", "waveInPrepareHeader", "waveInReset", "waveInStart",
                        "RegisterClassExA Tovalisk", "CreateWindowExA Tovalisk"});
    EXPECT_EQ(CountCalls(log, "waveInPrepareHeader"), 4);
    EXPECT_EQ(CountCalls(log, "waveInStart"), 1);
    // Chart, font and tick inside the creation, before anything that follows it returning.
    const int created = FindCall(log, "CreateWindowExA");
    const int after = FindCall(log, "GetWindowRect", created);
    const int tick = ExpectInOrder(log, {"CreateCompatibleBitmap", "CreateFontA", "timeSetEvent"}, created);
    EXPECT_LT(tick, after) << "the tick starts inside the window's creation";
    // Shown with the show command given, painted, and only then the 1 ms resolution.
    const int raised =
        ExpectInOrder(log, {"ShowWindow 1", "UpdateWindow", "BeginPaint", "timeBeginPeriod"}, after);
    EXPECT_EQ(CountCalls(log, "timeBeginPeriod"), 1);
    EXPECT_GT(raised, after);
    EXPECT_EQ(headless::TimePeriodBalance(), 1);
    EXPECT_EQ(headless::LiveTimers(), 1u);
    EXPECT_GT(headless::LiveDrawingObjects(), 0);

    const size_t running = log.size();
    EXPECT_EQ(app.CloseAndJoin(), 0);
    log = headless::CallLog();
    // The tick is stopped first, then the chart and the font go, then the quit; after the loop
    // the resolution is restored before the device is stopped, reset, its headers unprepared
    // and closed.
    const int close = static_cast<int>(running);
    const int killed = FindCall(log, "timeKillEvent", close);
    ASSERT_GE(killed, 0);
    EXPECT_EQ(FindCall(log, "DeleteObject", close), FindCall(log, "DeleteObject", killed));
    EXPECT_EQ(FindCall(log, "DeleteDC", close), FindCall(log, "DeleteDC", killed));
    EXPECT_EQ(CountCalls(std::vector<std::string>(log.begin() + killed, log.end()), "DeleteObject"), 2)
        << "the chart's bitmap and the font";
    ExpectInOrder(log, {"timeKillEvent", "DeleteDC", "PostQuitMessage 0", "timeEndPeriod", "waveInStop",
                        "waveInReset", "waveInUnprepareHeader", "waveInUnprepareHeader",
                        "waveInUnprepareHeader", "waveInUnprepareHeader", "waveInClose"},
                  close);
    EXPECT_EQ(FindLastCall(log, "waveInClose"), static_cast<int>(log.size()) - 1)
        << "closing the device is the last thing done";
    for (const WAVEHDR& h : captureRing.headers) {
        EXPECT_EQ(h.dwFlags & static_cast<DWORD>(WHDR_PREPARED | WHDR_INQUEUE), 0u);
    }
    EXPECT_TRUE(app.Stderr().empty()) << app.Stderr();
    ExpectAllReleased();
}

TEST(AppLifecycle, ClientAreaIs200By300WhateverTheFrame)
{
    struct Frame {
        int border;
        int caption;
    };
    for (const Frame f : {Frame{0, 0}, Frame{4, 20}, Frame{1, 37}, Frame{9, 0}}) {
        SCOPED_TRACE(testing::Message() << "frame " << f.border << " caption " << f.caption);
        apptest::App app;
        app.SetFrame(f.border, f.caption);
        app.Start();
        const headless::WindowView view = app.View();
        EXPECT_EQ(view.clientWidth, 200);
        EXPECT_EQ(view.clientHeight, 300);
        EXPECT_EQ(view.shownWidth, 200);
        EXPECT_EQ(view.shownHeight, 300);
        EXPECT_TRUE(view.visible);
        // The top-left corner stays where the system put it.
        EXPECT_EQ(view.outer.left, 100);
        EXPECT_EQ(view.outer.top, 100);
        // Without a frame the window already has the right size and is not moved.
        EXPECT_EQ(CountCalls(headless::CallLog(), "MoveWindow"), f.border == 0 && f.caption == 0 ? 0 : 1);
        EXPECT_EQ(app.CloseAndJoin(), 0);
    }
}

TEST(AppLifecycle, TimerThatFailsToStartLeavesTheWindowInItsInitialState)
{
    apptest::App app;
    app.SetTone(440, 16000);
    headless::FailTimerStarts(1);
    app.Start();
    const headless::WindowView first = app.View();
    // A black chart with no column drawn and the two zero readings.
    for (int y = 100; y < 300; ++y) {
        for (int x = 0; x < 200; ++x) {
            ASSERT_EQ(first.Pixel(x, y), apptest::kBlack) << x << "," << y;
        }
    }
    std::vector<std::string> lines;
    for (const apptest::TextLine& line : app.LastPaintText()) {
        lines.push_back(line.text);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"    0.00 Hz", "    0.00 dB"}));

    app.Run(2000);
    const headless::WindowView later = app.View();
    EXPECT_EQ(later.pixels, first.pixels);
    const std::vector<std::string> log = headless::CallLog();
    EXPECT_EQ(CountCalls(log, "waveInGetPosition"), 0);
    EXPECT_EQ(CountCalls(log, "SendMessageA"), 0);
    EXPECT_EQ(toolState.result.frequencyHz.load(), 0.0);

    const size_t running = headless::CallLog().size();
    EXPECT_EQ(app.CloseAndJoin(), 0);
    const std::vector<std::string> all = headless::CallLog();
    const std::vector<std::string> closing(all.begin() + static_cast<long>(running), all.end());
    EXPECT_EQ(CountCalls(closing, "timeKillEvent"), 0) << "there is no timer to stop";
    ExpectAllReleased();
}

struct FailureCase {
    const char* name;
    void (*arrange)();
    const char* message;
    // Whether the device had been opened (and must have been closed again).
    bool deviceOpened;
};

LRESULT CALLBACK OtherProc(HWND window, UINT message, WPARAM first, LPARAM second)
{
    return DefWindowProcA(window, message, first, second);
}

const FailureCase kFailures[] = {
    {"no input device", [] { headless::SetInputDevicePresent(false); },
     "tovalisk: no sound input device is available\n", false},
    // A class of that name already exists, so registering the program's fails.
    {"class registration",
     [] {
         WNDCLASSEXA wc{};
         wc.cbSize = sizeof wc;
         wc.lpfnWndProc = OtherProc;
         wc.hInstance = GetModuleHandleA(nullptr);
         wc.lpszClassName = "Tovalisk";
         ASSERT_NE(RegisterClassExA(&wc), 0);
     },
     "tovalisk: the main window class could not be registered\n", true},
    {"window creation", [] { headless::FailNextWindowCreation(); },
     "tovalisk: the main window could not be created\n", true},
};

TEST(AppLifecycle, EachStartUpFailureEndsWithCode1AndOneLineSayingWhatIsMissing)
{
    for (const FailureCase& c : kFailures) {
        SCOPED_TRACE(c.name);
        apptest::App app;
        app.SetTone(440, 16000);
        c.arrange();
        app.Start();
        // Join is watched: a failure that leaves the program hanging ends the test.
        EXPECT_EQ(app.Join(), 1);
        EXPECT_EQ(app.Stderr(), c.message);
        const std::vector<std::string> log = headless::CallLog();
        EXPECT_EQ(FindCall(log, "ShowWindow"), -1);
        EXPECT_EQ(FindCall(log, "timeBeginPeriod"), -1);
        EXPECT_EQ(FindCall(log, "timeSetEvent"), -1);
        if (c.deviceOpened) {
            // Released before the end, in the shut-down order.
            ExpectInOrder(log, {"waveInStart", "waveInStop", "waveInReset", "waveInUnprepareHeader",
                                "waveInClose"});
            EXPECT_EQ(CountCalls(log, "waveInUnprepareHeader"), 4);
        } else {
            EXPECT_EQ(FindCall(log, "waveInPrepareHeader"), -1);
        }
        ExpectAllReleased();
    }
}

// Closing while ticks are under way: a tick may be blocked in its send to the window thread
// while that thread destroys the window, or start while the window goes. Display ticks come at
// every tick (interval 10 ms), so every tick sends. Run under both sanitizers.
TEST(AppLifecycle, ClosingWhileTicksAreInFlightEndsWithCode0)
{
    constexpr int kRounds = 200;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        apptest::App app;
        app.SetTone(440, 16000);
        app.Start();
        const int variant = round % 4;
        if (variant < 3) {
            app.PressWith('H', VK_DOWN, 9);
            ASSERT_EQ(toolState.settings.displayInterval.load(), 10u);
        }
        app.Step(9 + round % 5);
        switch (variant) {
        case 0:
            // The close request is waiting when the tick sends.
            app.Close();
            apptest::Watched("a tick racing the close", [] { headless::Advance(10); });
            break;
        case 1:
            // The tick is under way when the close request comes.
            apptest::Watched("a tick racing the close", [&] {
                headless::StartAdvance(10);
                app.Close();
                headless::WaitTimerCalls();
            });
            break;
        case 2:
            // Ticks keep coming all through the shut-down.
            app.Close();
            apptest::Watched("ticks through the shut-down", [&] {
                while (!app.Ended()) {
                    headless::Advance(10);
                }
            });
            break;
        default:
            // A late tick with a quarter of a second to analyse, while the window goes and the
            // ring is released after it.
            app.Close();
            apptest::Watched("a late tick racing the close", [] { headless::Advance(250); });
            break;
        }
        ASSERT_EQ(app.Join(), 0);
        ExpectAllReleased();
    }
}

}  // namespace
