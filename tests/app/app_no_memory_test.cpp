// Start-up when the memory for the capture ring cannot be had. The ring's block comes from the
// C library's allocator, so this program puts its own malloc and calloc in front of the C
// library's: armed, they refuse the first request of the ring's size made on another thread
// than the test's, which in WinMain is the ring's own.

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <dlfcn.h>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_rules.h"
#include "tests/support/app_harness.h"

namespace {

constexpr size_t kRingBytes = kRingSamples * sizeof(int16_t);

std::atomic<bool> refuseRing{false};
std::atomic<int> refused{0};
std::thread::id testThread;

using MallocFn = void* (*)(size_t);
using CallocFn = void* (*)(size_t, size_t);
std::atomic<MallocFn> nextMalloc{nullptr};
std::atomic<CallocFn> nextCalloc{nullptr};
// dlsym may itself ask for zeroed memory while calloc is being looked up; it gets it from here.
alignas(16) char early[4096];
std::atomic<size_t> earlyUsed{0};
thread_local bool resolving = false;

bool RefuseThis(size_t bytes)
{
    if (bytes != kRingBytes || !refuseRing.load() || std::this_thread::get_id() == testThread) {
        return false;
    }
    if (!refuseRing.exchange(false)) {
        return false;
    }
    refused.fetch_add(1);
    return true;
}

template <typename Fn> Fn Next(std::atomic<Fn>& slot, const char* name)
{
    Fn next = slot.load(std::memory_order_acquire);
    if (next == nullptr) {
        resolving = true;
        next = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
        resolving = false;
        slot.store(next, std::memory_order_release);
    }
    return next;
}

}  // namespace

// The compiler may turn the ring's malloc and clearing into one calloc; either is refused.
extern "C" void* malloc(size_t size)
{
    if (RefuseThis(size)) {
        return nullptr;
    }
    return Next(nextMalloc, "malloc")(size);
}

extern "C" void* calloc(size_t count, size_t size)
{
    if (nextCalloc.load(std::memory_order_acquire) == nullptr && resolving) {
        const size_t bytes = (count * size + 15) & ~size_t{15};
        const size_t at = earlyUsed.fetch_add(bytes);
        return at + bytes <= sizeof early ? early + at : nullptr;
    }
    if (size != 0 && count <= SIZE_MAX / size && RefuseThis(count * size)) {
        return nullptr;
    }
    return Next(nextCalloc, "calloc")(count, size);
}

namespace {

TEST(AppNoMemory, NoMemoryForTheRingEndsWithCode1AfterClosingTheDevice)
{
    apptest::App app;
    testThread = std::this_thread::get_id();
    refuseRing.store(true);
    app.Start();
    EXPECT_EQ(app.Join(), 1);
    refuseRing.store(false);
    ASSERT_EQ(refused.load(), 1) << "the ring's allocation was never asked for";
    EXPECT_EQ(earlyUsed.load(), 0u);
    EXPECT_EQ(app.Stderr(), "tovalisk: not enough memory for the capture buffers\n");

    const std::vector<std::string> log = headless::CallLog();
    const int opened = apptest::FindCall(log, "waveInOpen");
    ASSERT_GE(opened, 0);
    EXPECT_GT(apptest::FindCall(log, "waveInClose"), opened);
    EXPECT_EQ(apptest::FindCall(log, "waveInPrepareHeader"), -1);
    EXPECT_EQ(apptest::FindCall(log, "RegisterClassExA"), -1);
    EXPECT_FALSE(headless::SoundIsOpen());
    EXPECT_TRUE(headless::WindowCaptions().empty());
}

}  // namespace
