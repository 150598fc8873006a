#pragma once

#include <cstdint>

// The arithmetic of the capture ring and of the display pacing, kept free of platform calls.
// Sample positions wrap past 2^32 after about 24.9 hours at 48 kHz and the millisecond clock
// after about 49.7 days, so positions are compared through their 32-bit difference read as
// signed, which stays right across the wrap while they are less than 2^31 apart.

inline constexpr uint32_t kRingSamples = 16384;
inline constexpr uint32_t kBufferSamples = 4096;
inline constexpr uint32_t kBufferCount = 4;
// Every sample this far behind the device position is already in its buffer.
inline constexpr uint32_t kAnalysisLag = 4096;
// A buffer goes back to the device once its position comes this close to queuedTo.
inline constexpr uint32_t kQueueAhead = 8192;

// How far `to` lies ahead of `from`; negative when it lies behind.
constexpr int32_t PositionAhead(uint32_t from, uint32_t to)
{
    return static_cast<int32_t>(to - from);
}

// The sample at `analysedTo` may be read once the device is more than kAnalysisLag past it.
constexpr bool AnalysisDue(uint32_t analysedTo, uint32_t devicePosition)
{
    return PositionAhead(analysedTo, devicePosition) > static_cast<int32_t>(kAnalysisLag);
}

// Another buffer is due once the device is within kQueueAhead of queuedTo.
constexpr bool TopUpDue(uint32_t queuedTo, uint32_t devicePosition)
{
    return PositionAhead(queuedTo, devicePosition + kQueueAhead) > 0;
}

// Turns the device's reported count into a ring position. A device that ran out of buffers
// may go on counting samples it had nowhere to put; those never reach the ring, so the
// position is held at queuedTo and the excess is added to `lostSamples`, which later reports
// are reduced by. Buffers handed over afterwards then line up with the positions again.
constexpr uint32_t RecordedPosition(uint32_t reported, uint32_t queuedTo, uint32_t& lostSamples)
{
    const uint32_t position = reported - lostSamples;
    const int32_t beyond = PositionAhead(queuedTo, position);
    if (beyond > 0) {
        lostSamples += static_cast<uint32_t>(beyond);
        return queuedTo;
    }
    return position;
}

// A display tick is due in every new slot of `interval` milliseconds. Comparing the slots for
// inequality rather than order keeps it firing once per slot when the clock wraps to 0.
constexpr bool DisplayDue(uint32_t now, uint32_t lastDisplayTime, uint32_t interval)
{
    return now / interval != lastDisplayTime / interval;
}
