#pragma once

#include <atomic>
#include <cstdint>

// Settings are written by the keys on the window thread and read by the detector and the tick
// on the timer thread; each is a whole 32-bit value, so relaxed atomics are all they need.
struct MeasureSettings {
    std::atomic<uint32_t> minCount;
    std::atomic<uint32_t> minDuration;
    std::atomic<int32_t> plusTrigger;
    std::atomic<int32_t> minusTrigger;
    std::atomic<uint32_t> validDuration;
    std::atomic<uint32_t> displayInterval;
};

struct MeasureResult {
    std::atomic<double> frequencyHz;
    std::atomic<double> levelDb;
    std::atomic<int32_t> newResult;
};

// Used by the window thread alone.
struct ViewState {
    uint32_t chartColumn;
    int32_t zoom;
    int32_t showSettings;
};

struct ToolState {
    MeasureSettings settings;
    MeasureResult result;
    ViewState view;
};

// The two threads rely on whole-value reads and writes without a lock.
static_assert(std::atomic<uint32_t>::is_always_lock_free && std::atomic<int32_t>::is_always_lock_free &&
              std::atomic<double>::is_always_lock_free);

extern ToolState toolState;

inline constexpr uint32_t kDefaultMinCount = 1;
inline constexpr uint32_t kDefaultMinDuration = 2400;
inline constexpr int32_t kDefaultPlusTrigger = 0xC000;
inline constexpr int32_t kDefaultMinusTrigger = 0xC000;
inline constexpr uint32_t kDefaultValidDuration = 48000;
inline constexpr uint32_t kDefaultDisplayInterval = 100;

// The ranges the keys keep.
inline constexpr uint32_t kMinMinCount = 1;
inline constexpr int32_t kMaxTrigger = 65536;
inline constexpr uint32_t kMinDisplayInterval = 10;

void InitToolState();
