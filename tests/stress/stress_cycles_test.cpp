// Hundreds of starts and closes of the whole program with ticks in flight: each must end with
// exit code 0 and give everything back, and the process must not grow over the cycles
// (threads, descriptors and, outside the sanitizers, heap).

#include <dirent.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "core/tool_state.h"
#include "platform/portable/hosts/headless/headless_display.h"
#include "platform/portable/hosts/headless/headless_sound.h"
#include "tests/support/app_harness.h"

#ifndef TOVALISK_STRESS_CYCLES
#define TOVALISK_STRESS_CYCLES 300
#endif

namespace {

// TOVALISK_STRESS_CYCLES in the environment, else the build's default (fewer under the
// sanitizers, which make each cycle many times slower).
int Cycles()
{
    const char* text = std::getenv("TOVALISK_STRESS_CYCLES");
    const int cycles = text != nullptr ? std::atoi(text) : 0;
    return cycles > 0 ? cycles : TOVALISK_STRESS_CYCLES;
}

int Entries(const char* directory)
{
    int count = 0;
    if (DIR* d = opendir(directory)) {
        while (dirent* e = readdir(d)) {
            count += e->d_name[0] != '.' ? 1 : 0;
        }
        closedir(d);
    }
    // The open directory itself is one of the descriptors.
    return count;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kHeapCounted = false;
#else
constexpr bool kHeapCounted = true;
#endif

size_t HeapInUse()
{
    return mallinfo2().uordblks;
}

void ExpectAllReleased()
{
    EXPECT_FALSE(headless::SoundIsOpen());
    EXPECT_EQ(headless::LiveTimers(), 0u);
    apptest::Watched("the threads of killed timers", [] { headless::WaitTimerCalls(); });
    EXPECT_EQ(headless::TimerThreads(), 0u);
    EXPECT_EQ(headless::TimePeriodBalance(), 0);
    EXPECT_EQ(headless::LiveDrawingObjects(), 0);
    EXPECT_TRUE(headless::WindowCaptions().empty());
}

enum class Ending {
    // The close request waits while a tick sends its display tick.
    CloseThenTick,
    // A tick is under way when the close request comes.
    TickThenClose,
    // Ticks keep coming through the whole shut-down.
    TicksThroughShutDown,
    // A 200 ms late tick, with a backlog to analyse, races the close.
    LateTickThenClose,
    // Keys arrive while the close request is pending and ticks run.
    KeysAndTicks,
};

TEST(StressCycles, StartAndCloseWithTicksInFlight)
{
    const int cycles = Cycles();
    // One arena for every thread, so that the heap count covers the program's threads too.
    if (kHeapCounted) {
        mallopt(M_ARENA_MAX, 1);
    }
    std::mt19937 random(20240611u);
    int threadsAtStart = -1;
    int descriptorsAtStart = -1;
    size_t heapAtStart = 0;
    // A few cycles first, so that what is made once per process (the watchdog's thread, the
    // font cache, gtest's bookkeeping) is there before the baseline.
    constexpr int kWarmUp = 20;
    for (int cycle = 0; cycle < cycles + kWarmUp; ++cycle) {
        SCOPED_TRACE(testing::Message() << "cycle " << cycle);
        const auto ending = static_cast<Ending>(random() % 5);
        {
            apptest::App app;
            app.SetTone(200 + static_cast<int>(random() % 1800),
                        4000 + static_cast<int>(random() % 28000));
            app.Start();
            ASSERT_FALSE(app.Ended());
            // Half the cycles send a display tick at every tick.
            if (random() % 2 == 0) {
                app.PressWith('H', VK_DOWN, 9);
                ASSERT_EQ(toolState.settings.displayInterval.load(), 10u);
            }
            app.Step(static_cast<int>(random() % 40));
            switch (ending) {
            case Ending::CloseThenTick:
                app.Close();
                apptest::Watched("a tick racing the close", [] { headless::Advance(10); });
                break;
            case Ending::TickThenClose:
                apptest::Watched("a tick racing the close", [&] {
                    headless::StartAdvance(10);
                    app.Close();
                    headless::WaitTimerCalls();
                });
                break;
            case Ending::TicksThroughShutDown:
                app.Close();
                apptest::Watched("ticks through the shut-down", [&] {
                    while (!app.Ended()) {
                        headless::Advance(10);
                    }
                });
                break;
            case Ending::LateTickThenClose:
                apptest::Watched("a late tick racing the close", [&] {
                    headless::StartAdvance(200);
                    app.Close();
                    headless::WaitTimerCalls();
                });
                break;
            case Ending::KeysAndTicks:
                headless::KeyDown('H');
                headless::PressKey(VK_DOWN);
                app.Close();
                headless::PressKey(VK_RIGHT, 3);
                headless::KeyUp('H');
                apptest::Watched("ticks through the shut-down", [&] {
                    while (!app.Ended()) {
                        headless::Advance(10);
                    }
                });
                break;
            }
            ASSERT_EQ(app.Join(), 0) << "ending " << static_cast<int>(ending);
            ExpectAllReleased();
        }
        const int descriptors = Entries("/proc/self/fd");
        if (cycle + 1 == kWarmUp) {
            threadsAtStart = Entries("/proc/self/task");
            descriptorsAtStart = descriptors;
            heapAtStart = HeapInUse();
        } else if (cycle + 1 > kWarmUp) {
            // A joined thread may linger in the list for a moment after it has ended; one left
            // running stays, and the wait's watchdog reports it.
            apptest::Watched("the program's threads to end", [&] {
                while (Entries("/proc/self/task") > threadsAtStart) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
            threadsAtStart = std::min(threadsAtStart, Entries("/proc/self/task"));
            ASSERT_EQ(descriptors, descriptorsAtStart) << "descriptors left open";
        }
    }
    if (kHeapCounted) {
        // A leak of even a few hundred bytes a cycle shows; the allocator's own slack does not.
        const auto grown =
            static_cast<long long>(HeapInUse()) - static_cast<long long>(heapAtStart);
        EXPECT_LT(grown, 64 * 1024)
            << "heap grew by " << grown << " bytes over " << cycles << " cycles";
        std::printf("%d cycles; heap in use changed by %lld bytes\n", cycles, grown);
    }
}

} // namespace
