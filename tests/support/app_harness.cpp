#include "tests/support/app_harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <numbers>
#include <unistd.h>

#include "app/shell.h"
#include "capture/capture_ring.h"
#include "capture/capture_tick.h"
#include "core/detector.h"
#include "core/tool_state.h"
#include "ui/chart.h"
#include "ui/panel.h"

namespace apptest {
namespace {

using Clock = std::chrono::steady_clock;

// Where a hang report goes: the real stderr, also while the program's is being captured.
std::atomic<int> reportFd{STDERR_FILENO};

void Report(const std::string& text)
{
    const int fd = reportFd.load();
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

// One wait at a time is watched; when it outlasts HangSeconds the process ends with a report,
// since a thread stuck inside the program cannot be taken back.
class Watchdog {
public:
    static Watchdog& Get()
    {
        // Never destroyed: its thread sleeps on it until the process ends.
        static Watchdog* watchdog = new Watchdog;
        return *watchdog;
    }

    void Arm(const char* what)
    {
        std::lock_guard lock(mutex_);
        what_ = what;
        deadline_ = Clock::now() + std::chrono::seconds(HangSeconds());
        ++generation_;
        changed_.notify_all();
    }

    void Disarm()
    {
        std::lock_guard lock(mutex_);
        what_ = nullptr;
        ++generation_;
        changed_.notify_all();
    }

private:
    Watchdog()
    {
        std::thread([this] { Watch(); }).detach();
    }

    void Watch()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return what_ != nullptr; });
            const uint64_t armed = generation_;
            const auto deadline = deadline_;
            if (changed_.wait_until(lock, deadline, [&] { return generation_ != armed; })) {
                continue;
            }
            Hung(what_);
        }
    }

    [[noreturn]] static void Hung(const char* what)
    {
        std::string text = "apptest: the program hangs: " + std::string(what) + " did not finish in " +
                           std::to_string(HangSeconds()) + " s. Last platform calls:\n";
        const std::vector<std::string> log = headless::CallLog();
        const size_t from = log.size() > 40 ? log.size() - 40 : 0;
        for (size_t i = from; i < log.size(); ++i) {
            text += "  " + log[i] + "\n";
        }
        Report(text);
        std::_Exit(124);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    const char* what_ = nullptr;
    Clock::time_point deadline_;
    uint64_t generation_ = 0;
};

template <typename F> auto Guarded(const char* what, F&& f)
{
    Watchdog::Get().Arm(what);
    struct Disarm {
        ~Disarm() { Watchdog::Get().Disarm(); }
    } disarm;
    return f();
}

}  // namespace

int HangSeconds()
{
    const char* text = std::getenv("TOVALISK_HANG_SECONDS");
    const int seconds = text != nullptr ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 60;
}

void Watched(const char* what, const std::function<void()>& f)
{
    Guarded(what, f);
}

void ResetHostAndProgram()
{
    headless::ResetSound();
    headless::ResetDisplay();
    headless::ClearCallLog();

    // What a fresh process holds before WinMain; WinMain sets the rest itself.
    shell.instance = nullptr;
    shell.mainWindow.store(nullptr);
    chart = ChartState{};
    panel = PanelState{};
    tickState.timer = 0;
    tickState.stopping.store(0);
    tickState.inFlight.store(0);
    tickState.lastDisplayTime.store(0);
    captureRing.device = nullptr;
    captureRing.block = nullptr;
    for (WAVEHDR& h : captureRing.headers) {
        h = WAVEHDR{};
    }
    captureRing.queuedTo.store(0);
    captureRing.devicePosition.store(0);
    captureRing.analysedTo.store(0);
    captureRing.lostSamples.store(0);
    ResetDetector();
    InitToolState();
    toolState.result.frequencyHz.store(0.0);
    toolState.result.levelDb.store(0.0);
    toolState.result.newResult.store(0);
}

bool Matches(const std::string& entry, std::string_view name)
{
    return entry.size() >= name.size() && std::string_view(entry).substr(0, name.size()) == name &&
           (entry.size() == name.size() || entry[name.size()] == ' ');
}

int FindCall(const std::vector<std::string>& log, std::string_view name, int from)
{
    for (size_t i = static_cast<size_t>(std::max(from, 0)); i < log.size(); ++i) {
        if (Matches(log[i], name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int FindLastCall(const std::vector<std::string>& log, std::string_view name)
{
    for (size_t i = log.size(); i-- > 0;) {
        if (Matches(log[i], name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int CountCalls(const std::vector<std::string>& log, std::string_view name)
{
    int count = 0;
    for (const std::string& entry : log) {
        count += Matches(entry, name) ? 1 : 0;
    }
    return count;
}

std::vector<TextLine> TextOuts(const std::vector<std::string>& log)
{
    std::vector<TextLine> lines;
    constexpr std::string_view kName = "TextOutA ";
    for (const std::string& entry : log) {
        if (entry.rfind(kName, 0) != 0) {
            continue;
        }
        // "TextOutA x y text"
        TextLine line{};
        int consumed = 0;
        if (std::sscanf(entry.c_str() + kName.size(), "%d %d%n", &line.x, &line.y, &consumed) < 2) {
            continue;
        }
        // One blank separates the position from the text, which may itself start with blanks.
        const size_t text = kName.size() + static_cast<size_t>(consumed) + 1;
        line.text = text < entry.size() ? entry.substr(text) : std::string();
        lines.push_back(std::move(line));
    }
    return lines;
}

App::App()
{
    ResetHostAndProgram();
}

App::~App()
{
    if (!thread_.joinable()) {
        RestoreStderr();
        return;
    }
    if (!ended_.load()) {
        Close();
    }
    Join();
}

void App::SetFrame(int border, int caption)
{
    headless::SetFrame(border, caption);
}

void App::SetTone(int frequency, int amplitude)
{
    // The phase from p mod 48000 keeps every second of a whole-hertz tone identical.
    headless::SetSignal([frequency, amplitude](uint64_t p) {
        const double phase = 2.0 * std::numbers::pi * frequency * static_cast<double>(p % 48000) / 48000.0;
        return static_cast<int16_t>(std::lround(amplitude * std::sin(phase)));
    });
}

void App::Start(int showCommand)
{
    if (thread_.joinable()) {
        ADD_FAILURE() << "App::Start called twice";
        return;
    }
    // Standard error goes through a pipe: what arrives is kept and passed on to the real
    // stderr at once, so that a sanitizer's report is not lost if the process dies.
    std::fflush(stderr);
    int ends[2];
    savedStderr_ = ::dup(STDERR_FILENO);
    if (savedStderr_ >= 0 && ::pipe(ends) == 0) {
        ::dup2(ends[1], STDERR_FILENO);
        ::close(ends[1]);
        reportFd.store(savedStderr_);
        const int readEnd = ends[0];
        const int passOn = savedStderr_;
        stderrReader_ = std::thread([this, readEnd, passOn] {
            char buffer[4096];
            for (;;) {
                const ssize_t n = ::read(readEnd, buffer, sizeof buffer);
                if (n <= 0) {
                    break;
                }
                {
                    std::lock_guard lock(stderrMutex_);
                    stderrText_.append(buffer, static_cast<size_t>(n));
                }
                (void)!::write(passOn, buffer, static_cast<size_t>(n));
            }
            ::close(readEnd);
        });
    }
    joined_ = false;
    thread_ = std::thread([this, showCommand] {
        static char commandLine[] = "";
        exitCode_.store(WinMain(GetModuleHandleA(nullptr), nullptr, commandLine, showCommand));
        ended_.store(true);
    });
    Guarded("the start-up (until the window waits for input or WinMain returns)", [&] {
        while (!ended_.load() && !headless::IsIdle()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
}

bool App::Ended() const
{
    return ended_.load();
}

bool App::WaitIdle()
{
    if (ended_.load()) {
        return false;
    }
    return Guarded("waiting for the window thread to become idle", [] { return headless::WaitIdle(); });
}

void App::Step(int ticks)
{
    for (int i = 0; i < ticks; ++i) {
        Guarded("a 10 ms tick", [] { headless::StepTimer(); });
        WaitIdle();
    }
}

void App::Advance(uint32_t ms)
{
    Guarded("advancing the clock", [ms] { headless::Advance(ms); });
    WaitIdle();
}

void App::Run(uint32_t ms)
{
    Step(static_cast<int>(ms / 10));
}

void App::Press(unsigned virtualKey, int repeats)
{
    headless::PressKey(virtualKey, repeats);
    WaitIdle();
}

void App::KeyDown(unsigned virtualKey, bool repeat)
{
    headless::KeyDown(virtualKey, repeat);
    WaitIdle();
}

void App::KeyUp(unsigned virtualKey)
{
    headless::KeyUp(virtualKey);
    WaitIdle();
}

void App::PressWith(unsigned selector, unsigned key, int times)
{
    headless::KeyDown(selector);
    for (int i = 0; i < times; ++i) {
        headless::PressKey(key);
    }
    headless::KeyUp(selector);
    WaitIdle();
}

void App::Close()
{
    headless::RequestClose();
}

int App::Join()
{
    if (!thread_.joinable()) {
        return exitCode_.load();
    }
    Guarded("waiting for WinMain to return", [&] {
        while (!ended_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    thread_.join();
    joined_ = true;
    RestoreStderr();
    return exitCode_.load();
}

int App::CloseAndJoin()
{
    Close();
    return Join();
}

void App::RestoreStderr()
{
    if (savedStderr_ < 0) {
        return;
    }
    std::fflush(stderr);
    // Once fd 2 is the real stderr again the pipe has no writer left, and the reader ends.
    ::dup2(savedStderr_, STDERR_FILENO);
    if (stderrReader_.joinable()) {
        stderrReader_.join();
    }
    reportFd.store(STDERR_FILENO);
    ::close(savedStderr_);
    savedStderr_ = -1;
}

std::string App::Stderr() const
{
    std::lock_guard lock(stderrMutex_);
    return stderrText_;
}

bool App::HasWindow() const
{
    return headless::TopWindow(kCaption).has_value();
}

headless::WindowView App::View() const
{
    std::optional<headless::WindowView> view = headless::TopWindow(kCaption);
    if (!view) {
        ADD_FAILURE() << "no window named " << kCaption;
        return headless::WindowView{};
    }
    return *view;
}

COLORREF App::Pixel(int x, int y) const
{
    return View().Pixel(x, y);
}

std::vector<TextLine> App::LastPaintText() const
{
    const std::vector<std::string> log = headless::CallLog();
    const int end = FindLastCall(log, "EndPaint");
    int begin = end;
    while (begin >= 0 && !Matches(log[static_cast<size_t>(begin)], "BeginPaint")) {
        --begin;
    }
    if (begin < 0) {
        return {};
    }
    return TextOuts(std::vector<std::string>(log.begin() + begin, log.begin() + end));
}

}  // namespace apptest
