#pragma once

// A long simulated run of the whole program on the headless host, checked against a model of
// the input device and against the detector itself.
//
// The model follows the device as the headless host describes it: every Advance first offers
// its sound to the device, which records as much as the buffers handed to it so far have room
// for (nothing while it is away) and loses the rest. Counting the buffers the program hands
// over (the call log) and knowing which were refused, the model knows exactly which
// microphone samples sit at which positions, without asking the program.
//
// After every tick the run checks that the program has analysed exactly the recorded positions
// that are more than 4096 behind the device (none twice, none skipped, none not yet recorded),
// and notes the published result and, after a display tick, the dots of the newest chart
// column. CheckAgainstDetector then feeds the recorded samples through ProcessSample one by
// one and requires the same result after every tick and the same dots in every column.

#include <cstdint>
#include <vector>

#include "tests/support/app_harness.h"

namespace stress {

// From microphone sample `from` on, a sine of `frequency` whole hertz, phase 0 at `from`; or,
// with kAlternating, +amplitude and -amplitude in turn, which the detector reads as 24000 Hz
// and in which every sample is a peak or a trough: one sample skipped or read twice within a
// measurement costs it a cycle, so the reading changes.
inline constexpr int kAlternating = -1;

struct Segment {
    uint64_t from;
    int frequency;
    int amplitude;
};

// What the detector reads for the segment's signal.
inline double ToneHz(const Segment& s)
{
    return s.frequency == kAlternating ? 24000.0 : s.frequency;
}

// Chart rows of the dots, as the chart computes them; -1 when off the chart.
int FrequencyRow(double hz);
int LevelRow(double db);

class SimulatedRun {
  public:
    // `startPosition` (a multiple of 16384) is where the device's count starts and `clock`
    // what timeGetTime reads at the start; both exist to cross their 2^32 wraps.
    SimulatedRun(std::vector<Segment> plan, uint32_t startPosition = 0, uint32_t clock = 0);

    void Start();
    // One timer call after `ms` of sound (10: on time; more: a late tick).
    void Step(uint32_t ms = 10);
    void Steps(int count);
    void SetDevicePresent(bool present);
    // While on, the device refuses every buffer offered.
    void SetRefusing(bool refusing);
    int CloseAndJoin();

    // Replays the recorded samples through the detector (after CloseAndJoin).
    void CheckAgainstDetector();

    // Microphone sample index of the sound the next Step offers.
    uint64_t MicIndex() const
    {
        return micIndex_;
    }
    uint64_t Recorded() const
    {
        return recordedTotal_;
    }
    // Samples the device can still record into the buffers it holds.
    uint64_t Room() const
    {
        return acceptedBuffers_ * 4096 - recordedTotal_;
    }
    // Whether the device recorded every microphone sample in [from, to).
    bool RecordedWhole(uint64_t from, uint64_t to) const;
    // Microphone index of the oldest sample the program has not analysed yet.
    uint64_t MicIndexOfAnalysis() const;
    double FrequencyNow() const;
    double LevelNow() const;
    // Dots of the newest column after the last display tick (-1: none).
    int LastRedRow() const
    {
        return lastRed_;
    }
    int DisplayTicks() const
    {
        return displayTicks_;
    }
    // Results published by the replay in microphone sample ranges, for checking what was
    // measured: (microphone index of the publication, frequency).
    struct Publication {
        uint64_t micIndex;
        double frequency;
    };
    const std::vector<Publication>& Publications() const
    {
        return publications_;
    }

  private:
    struct Observation {
        uint32_t analysed;
        double frequency;
        double level;
        bool display;
        int redRow;
        int blueRow;
    };
    // Runs of consecutive recorded samples: recorded index `recorded` is microphone index
    // `mic`, and so on up to the next run.
    struct Stretch {
        uint64_t recorded;
        uint64_t mic;
    };

    int16_t Sample(uint64_t mic) const;
    uint64_t MicOf(uint64_t recorded) const;

    std::vector<Segment> plan_;
    uint32_t start_;
    uint32_t clock_;
    apptest::App app_;
    bool present_ = true;
    bool refusing_ = false;
    uint64_t micIndex_ = 0;
    uint64_t recordedTotal_ = 0;
    uint64_t acceptedBuffers_ = 0;
    std::vector<Stretch> stretches_;
    std::vector<Observation> observations_;
    std::vector<Publication> publications_;
    int lastRed_ = -1;
    int displayTicks_ = 0;
    int invariantFailures_ = 0;
};

// Frequencies cycling every `seconds` from microphone sample 0 for `total` seconds.
std::vector<Segment> Cycle(const std::vector<int>& frequencies, double seconds, double total,
                           int amplitude = 16000);

// Number of the results published in microphone samples [from, to) whose frequency differs
// from `hz` by more than `tolerance` (relative), and how many there were.
struct Readings {
    int count;
    int off;
};
Readings ReadingsBetween(const SimulatedRun& run, uint64_t from, uint64_t to, double hz,
                         double tolerance);

} // namespace stress
