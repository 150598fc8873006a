#pragma once

// Runs the whole program (the real WinMain) on a window thread of its own against the headless
// host, and drives it the way a user and the system would: sound in, ticks stepped one by one,
// keys, a close request. Every wait is watched: a program that hangs ends the test process
// with a message and the tail of the call log instead of leaving ctest stuck.
//
//   apptest::App app;            // fresh host and program state, default frame (4, 20)
//   app.SetTone(440, 16000);     // configure the host before the start
//   app.Start();                 // returns once the window waits for input, or WinMain ended
//   app.Step(20);                // twenty 10 ms ticks, each followed by an idle window thread
//   EXPECT_EQ(app.View().Pixel(199, 194), kRed);
//   app.Press('2');
//   EXPECT_EQ(app.CloseAndJoin(), 0);

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/portable/hosts/headless/call_log.h"
#include "platform/portable/hosts/headless/headless_display.h"
#include "platform/portable/hosts/headless/headless_sound.h"
#include "platform/windowing.h"

namespace apptest {

inline constexpr const char* kCaption = "Tovalisk";
// Colours as the window shows them (COLORREF, 0x00BBGGRR).
inline constexpr COLORREF kBlack = 0x000000;
inline constexpr COLORREF kRed = 0x0000FF;
inline constexpr COLORREF kBlue = 0xFF0000;
inline constexpr COLORREF kGreen = 0x008000;
inline constexpr COLORREF kWhite = 0xFFFFFF;

// The headless host (sound, display with the default frame, call log) and the program's module
// state back to how a fresh process finds them. App's constructor does this; tests that call
// capture or ui functions directly use it on its own. No window thread may be running.
void ResetHostAndProgram();

// One TextOutA call as the call log recorded it.
struct TextLine {
    int x;
    int y;
    std::string text;
};

// Call-log helpers. An entry matches `name` when it is the name alone or the name, a blank
// and a detail ("SendMessageA" matches "SendMessageA 0x0400").
bool Matches(const std::string& entry, std::string_view name);
// Index of the first matching entry at or after `from`, or -1.
int FindCall(const std::vector<std::string>& log, std::string_view name, int from = 0);
int FindLastCall(const std::vector<std::string>& log, std::string_view name);
int CountCalls(const std::vector<std::string>& log, std::string_view name);
// The TextOutA entries of `log`, in order.
std::vector<TextLine> TextOuts(const std::vector<std::string>& log);

// How long one wait may last before the program counts as hung: TOVALISK_HANG_SECONDS, or 60.
int HangSeconds();
// Runs `f`, which may block; when it has not returned after HangSeconds the process ends with
// a report naming `what` and the tail of the call log. Every wait of App goes through this.
void Watched(const char* what, const std::function<void()>& f);

class App {
public:
    // Resets the host and the program state (ResetHostAndProgram).
    App();
    // A program still running is asked to close and joined (a hang ends the process).
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // Before Start: the simulated window frame, and a sine of `frequency` whole hertz:
    // round(amplitude * sin(2 pi frequency p / 48000)) at sample p, the microphone's signal.
    void SetFrame(int border, int caption);
    void SetTone(int frequency, int amplitude);

    // Runs WinMain(instance, nullptr, "", showCommand) on the window thread. Standard error is
    // captured from here until the program has been joined (and passed on to the real stderr
    // as it comes, so sanitizer reports stay visible). Returns once the window thread waits
    // with nothing left to do, or WinMain has returned.
    void Start(int showCommand = SW_SHOWDEFAULT);

    // WinMain has returned.
    bool Ended() const;

    // `ticks` times: advance the clock 10 ms (one timer call), then wait until the window
    // thread is idle again, so that display ticks have been plotted and painted.
    void Step(int ticks = 1);
    // Advances `ms` in one go (at most one timer call: a late tick), then waits for idle.
    void Advance(uint32_t ms);
    // Steps whole ticks until `ms` milliseconds have passed.
    void Run(uint32_t ms);
    // Until the window thread waits with nothing left to do; false when the window is gone.
    bool WaitIdle();

    // Keys as the keyboard delivers them to the focus window; each waits for idle after.
    void Press(unsigned virtualKey, int repeats = 0);
    void KeyDown(unsigned virtualKey, bool repeat = false);
    void KeyUp(unsigned virtualKey);
    // Holds `selector` (a letter key), presses `key` `times` times, releases the selector.
    void PressWith(unsigned selector, unsigned key, int times = 1);

    // A close request, as the caption button gives it (does not wait).
    void Close();
    // Waits until WinMain has returned and its thread is joined; returns the exit code.
    int Join();
    int CloseAndJoin();
    // What the program wrote to stderr; complete once joined.
    std::string Stderr() const;

    // The main window as last presented; fails the test (and returns an empty view) when
    // there is no window named Tovalisk.
    headless::WindowView View() const;
    bool HasWindow() const;
    COLORREF Pixel(int x, int y) const;
    // The TextOutA calls of the last complete paint (BeginPaint to EndPaint).
    std::vector<TextLine> LastPaintText() const;

private:
    std::thread thread_;
    std::atomic<bool> ended_{false};
    std::atomic<int> exitCode_{-1};
    int savedStderr_ = -1;
    std::thread stderrReader_;
    mutable std::mutex stderrMutex_;
    std::string stderrText_;
    bool joined_ = false;

    void RestoreStderr();
};

}  // namespace apptest
