// Feeds the detector arbitrary sample streams under arbitrary settings within the ranges the
// keys keep, changing them between samples as the window thread may, and aborts on the first
// broken invariant.
//
// Input: start position (4 bytes), minCount, minDuration, plusTrigger, minusTrigger,
// validDuration (4 bytes each), a change interval (2 bytes), then 16-bit samples, all little
// endian. With a change interval of N > 0, every N samples a change record (which setting,
// 1 byte; its new value, 4 bytes) comes before the next sample. Missing bytes read as 0.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/detector.h"
#include "core/tool_state.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    bool Empty() const
    {
        return at >= size;
    }
    uint32_t Byte()
    {
        return at < size ? data[at++] : 0u;
    }
    uint32_t U16()
    {
        const uint32_t low = Byte();
        return low | Byte() << 8;
    }
    uint32_t U32()
    {
        const uint32_t low = U16();
        return low | U16() << 16;
    }
};

// Small values most of the time, since that is where measurements happen, but every uint32
// stays reachable, the top of the range included.
uint32_t Amount(uint32_t raw)
{
    switch (raw >> 30) {
    case 0:
        return raw & 0xFFu;
    case 1:
        return raw & 0xFFFFu;
    case 2:
        return raw & 0x3FFFFFFFu;
    default:
        return 0xFFFFFFFFu - (raw & 0xFFFFu);
    }
}

uint32_t Count(uint32_t raw)
{
    const uint32_t n = Amount(raw);
    return n < kMinMinCount ? kMinMinCount : n;
}

int32_t Trigger(uint32_t raw)
{
    const uint32_t t = raw & 0x1FFFFu;
    return t > uint32_t{kMaxTrigger} ? kMaxTrigger : static_cast<int32_t>(t);
}

void Change(uint32_t which, uint32_t raw)
{
    MeasureSettings& s = toolState.settings;
    switch (which % 5) {
    case 0:
        s.minCount.store(Count(raw), kRelaxed);
        break;
    case 1:
        s.minDuration.store(Amount(raw), kRelaxed);
        break;
    case 2:
        s.plusTrigger.store(Trigger(raw), kRelaxed);
        break;
    case 3:
        s.minusTrigger.store(Trigger(raw), kRelaxed);
        break;
    default:
        s.validDuration.store(Amount(raw), kRelaxed);
        break;
    }
}

[[noreturn]] void Broken(uint32_t position, const char* what)
{
    std::fprintf(stderr, "detector invariant broken at position %u: %s\n", position, what);
    std::fprintf(stderr,
                 "state: prev %d polarity %d peakMax %d troughMin %d count %u lastExtremeAt %u "
                 "measureStartAt %u\n",
                 detector.prevSample, detector.polarity, detector.peakMax, detector.troughMin,
                 detector.cycleCount, detector.lastExtremeAt, detector.measureStartAt);
    std::abort();
}

#define REQUIRE(condition)                                                                         \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            Broken(i, #condition);                                                                 \
        }                                                                                          \
    } while (false)

// 20 log10(1/65535): a swing of one step.
const double kLowestDb = 20.0 * std::log10(1.0 / 65535.0);

// Checks one ProcessSample(i, cur) given the state before it; `fed` counts the samples fed so
// far, this one included.
void Check(const DetectorState& before, double beforeHz, double beforeDb, uint32_t i, int32_t cur,
           uint64_t fed)
{
    const DetectorState& d = detector;
    const MeasureSettings& s = toolState.settings;
    const MeasureResult& r = toolState.result;
    const uint32_t minCount = s.minCount.load(kRelaxed);
    const uint32_t minDuration = s.minDuration.load(kRelaxed);
    const uint32_t validDuration = s.validDuration.load(kRelaxed);

    REQUIRE(d.prevSample == cur);
    REQUIRE(d.polarity == 1 || d.polarity == -1);
    REQUIRE(d.peakMax >= 0 && d.peakMax <= 32767);
    REQUIRE(d.troughMin <= 0 && d.troughMin >= -32768);
    // The validity rule leaves no stretch longer than validDuration without an accepted extreme.
    REQUIRE(i - d.lastExtremeAt <= validDuration);
    REQUIRE(d.lastExtremeAt == before.lastExtremeAt || d.lastExtremeAt == i);
    // Counting moves one step at a time or starts over (a jump may start it over and count
    // the same peak), and only a peak after a trough counts.
    const bool counted = before.prevSample >= 0 && before.polarity == -1;
    REQUIRE(d.cycleCount == before.cycleCount || d.cycleCount == 0 ||
            (counted && (d.cycleCount == before.cycleCount + 1 || d.cycleCount == 1)));
    // From the second counted cycle on, the span starts at a position already fed.
    if (d.cycleCount >= 2) {
        REQUIRE(uint64_t{i - d.measureStartAt} < fed);
    }

    if (r.newResult.load(kRelaxed) == 0) {
        // Results stay put between publications, bit for bit.
        REQUIRE(r.frequencyHz.load(kRelaxed) == beforeHz);
        REQUIRE(r.levelDb.load(kRelaxed) == beforeDb);
        return;
    }

    // A publication closes a cycle at the sample after a peak that follows a trough.
    REQUIRE(before.prevSample >= 0 && cur <= before.prevSample);
    REQUIRE(before.polarity == -1);
    REQUIRE(d.lastPeriods >= 1 && d.lastPeriods >= minCount);
    REQUIRE(d.lastPeriods == before.cycleCount - 1);
    REQUIRE(d.lastSpan > 0 && d.lastSpan >= minDuration);
    REQUIRE(d.lastSpan == i - before.measureStartAt);
    REQUIRE(uint64_t{d.lastSpan} < fed);
    // Counted peaks are at least two samples apart, with a trough between them.
    REQUIRE(uint64_t{d.lastSpan} >= 2 * uint64_t{d.lastPeriods});

    const double hz = r.frequencyHz.load(kRelaxed);
    const double db = r.levelDb.load(kRelaxed);
    REQUIRE(std::isfinite(hz) && std::isfinite(db));
    REQUIRE(hz == static_cast<double>(d.lastPeriods) * 48000.0 / static_cast<double>(d.lastSpan));
    REQUIRE(hz > 0.0 && hz <= 24000.0);
    REQUIRE(db <= 0.0 && db >= kLowestDb);
    // The level is the closing peak against the last accepted trough.
    const int32_t swing = before.prevSample - before.troughMin;
    REQUIRE(db == 20.0 * std::log10(static_cast<double>(swing) * (1.0 / 65535.0)));

    // And the next measurement starts from nothing.
    REQUIRE(d.cycleCount == 0 && d.peakMax == 0 && d.troughMin == 0 && d.measureStartAt == 0);
    REQUIRE(d.polarity == 1 && d.lastExtremeAt == i);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in{data, size};
    ResetDetector();
    InitToolState();
    uint32_t position = in.U32();
    for (uint32_t which = 0; which < 5; ++which) {
        Change(which, in.U32());
    }
    const uint32_t changeEvery = in.U16();

    MeasureResult& r = toolState.result;
    uint64_t fed = 0;
    uint32_t sinceChange = 0;
    while (!in.Empty()) {
        if (changeEvery != 0 && ++sinceChange > changeEvery) {
            sinceChange = 1;
            const uint32_t which = in.Byte();
            Change(which, in.U32());
            if (in.Empty()) {
                break;
            }
        }
        const auto cur = static_cast<int16_t>(in.U16());
        const DetectorState before = detector;
        const double beforeHz = r.frequencyHz.load(kRelaxed);
        const double beforeDb = r.levelDb.load(kRelaxed);
        // Positions run on from the start, each fed once, through the wrap at 2^32.
        ProcessSample(position, cur);
        ++fed;
        Check(before, beforeHz, beforeDb, position, cur, fed);
        r.newResult.store(0, kRelaxed);
        ++position;
    }
    return 0;
}
