#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <vector>

#include "core/detector.h"
#include "core/tool_state.h"

namespace {

struct Publication {
    uint32_t position;
    double frequencyHz;
    double levelDb;
    uint32_t periods;
    uint32_t span;
};

int32_t SineSample(double amplitude, double hz, uint32_t p)
{
    const double v = std::round(amplitude * std::sin(2.0 * std::numbers::pi * hz * p / 48000.0));
    return static_cast<int32_t>(std::clamp(v, -32768.0, 32767.0));
}

std::vector<int32_t> Sine(double amplitude, double hz, uint32_t count, uint32_t first = 0)
{
    std::vector<int32_t> out(count);
    for (uint32_t k = 0; k < count; ++k) {
        out[k] = SineSample(amplitude, hz, first + k);
    }
    return out;
}

class Detector : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitToolState();
        ResetDetector();
    }

    // Feeds the samples at the next positions and collects what gets published.
    std::vector<Publication> Feed(const std::vector<int32_t>& samples)
    {
        std::vector<Publication> out;
        for (int32_t s : samples) {
            ProcessSample(next_, s);
            if (toolState.result.newResult != 0) {
                toolState.result.newResult = 0;
                out.push_back({next_, toolState.result.frequencyHz, toolState.result.levelDb,
                               detector.lastPeriods, detector.lastSpan});
            }
            ++next_;
        }
        return out;
    }

    uint32_t next_ = 0;
};

struct ToneCase {
    friend void PrintTo(const ToneCase& c, std::ostream* os) { *os << c.name; }
    const char* name;
    double hz;
    double amplitude;
    double expectedHz;
    uint32_t periods;
    uint32_t span;
    double levelDb;
};

class DetectorTone : public Detector, public ::testing::WithParamInterface<ToneCase> {};

TEST_P(DetectorTone, PublishesWholePeriodsPerSpan)
{
    const ToneCase& c = GetParam();
    const auto pubs = Feed(Sine(c.amplitude, c.hz, 48000 * 2));
    ASSERT_FALSE(pubs.empty());
    for (const Publication& p : pubs) {
        EXPECT_DOUBLE_EQ(p.frequencyHz, c.expectedHz) << "at " << p.position;
        EXPECT_EQ(p.periods, c.periods);
        EXPECT_EQ(p.span, c.span);
        EXPECT_NEAR(p.levelDb, c.levelDb, 0.002);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Figures, DetectorTone,
    ::testing::Values(ToneCase{"Hz440", 440, 16000, 440.0, 22, 2400, -6.228},
                      ToneCase{"Hz1000", 1000, 16000, 1000.0, 50, 2400, -6.2265},
                      ToneCase{"Hz50", 50, 16000, 50.0, 3, 2880, -6.2265},
                      ToneCase{"Hz440Amplitude4", 440, 4, 440.0, 22, 2400, -79.4275},
                      ToneCase{"Hz50Amplitude1000FlatCrest", 50, 1000, 50.0, 3, 2880, -30.3480},
                      ToneCase{"Hz18000ReadsTheSampledPattern", 18000, 16000, 6000.0, 300, 2400,
                               -6.2265}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Detector, ResultsComeAtTheRateOfSpanPlusTwoPeriods)
{
    const auto pubs = Feed(Sine(16000, 440, 48000 * 3));
    ASSERT_GT(pubs.size(), 50u);
    for (size_t k = 1; k < pubs.size(); ++k) {
        const uint32_t gap = pubs[k].position - pubs[k - 1].position;
        EXPECT_TRUE(gap == 2618 || gap == 2619) << gap;
    }
    // About 18.3 results per second; 50 Hz gives 10 per second.
    EXPECT_NEAR(static_cast<double>(pubs.size()) / 3.0, 18.3, 0.4);
    SetUp();
    next_ = 0;
    EXPECT_NEAR(static_cast<double>(Feed(Sine(16000, 50, 48000 * 3)).size()) / 3.0, 10.0, 0.4);
}

TEST_F(Detector, FrequencyIsQuantisedByWholeSampleSpans)
{
    const auto pubs = Feed(Sine(16000, 441, 48000 * 2));
    ASSERT_FALSE(pubs.empty());
    bool sawShort = false;
    bool sawLong = false;
    for (const Publication& p : pubs) {
        ASSERT_EQ(p.periods, 23u);
        ASSERT_TRUE(p.span == 2503 || p.span == 2504) << p.span;
        EXPECT_NEAR(p.frequencyHz, p.span == 2503 ? 441.0707 : 440.8946, 0.00005);
        (p.span == 2503 ? sawShort : sawLong) = true;
    }
    EXPECT_TRUE(sawShort && sawLong);
}

TEST_F(Detector, FullScaleReadsZeroDecibelsWithoutOverflow)
{
    // Clipped so that the crests sit at 32767 and the troughs at -32768.
    const auto pubs = Feed(Sine(40000, 440, 48000));
    ASSERT_FALSE(pubs.empty());
    for (const Publication& p : pubs) {
        EXPECT_EQ(p.levelDb, 0.0);
        EXPECT_DOUBLE_EQ(p.frequencyHz, 440.0);
    }
}

TEST_F(Detector, TinyAmplitudesAreNeverPublished)
{
    for (double amplitude : {1.0, 2.0, 3.0}) {
        SetUp();
        next_ = 0;
        EXPECT_TRUE(Feed(Sine(amplitude, 440, 48000 * 2)).empty()) << amplitude;
    }
}

TEST_F(Detector, SilenceIsAcceptedAsPeaksButNeverCounted)
{
    const auto pubs = Feed(std::vector<int32_t>(48000 * 3, 0));
    EXPECT_TRUE(pubs.empty());
    EXPECT_EQ(detector.polarity, 1);
    EXPECT_EQ(detector.cycleCount, 0u);
    // Every sample is an accepted peak, so the last one moved lastExtremeAt and no start-over
    // was needed.
    EXPECT_EQ(detector.lastExtremeAt, next_ - 1);
}

TEST_F(Detector, ToneThenSilenceKeepsTheLastResultUntilTheStartOver)
{
    const auto tone = Feed(Sine(16000, 440, 48000));
    ASSERT_FALSE(tone.empty());
    const uint32_t lastAccepted = detector.lastExtremeAt;
    const double hz = toolState.result.frequencyHz;
    const double db = toolState.result.levelDb;

    // Nothing is accepted during silence until strictly more than validDuration has passed.
    std::vector<int32_t> silence(60000, 0);
    for (size_t k = 0; k < silence.size(); ++k) {
        ProcessSample(next_, 0);
        if (next_ - lastAccepted <= 48000) {
            ASSERT_EQ(detector.lastExtremeAt, lastAccepted) << next_;
        } else if (next_ - lastAccepted == 48001) {
            ASSERT_EQ(detector.lastExtremeAt, next_);
        }
        ++next_;
    }
    // From the start-over on, every zero is an accepted peak.
    EXPECT_EQ(detector.lastExtremeAt, next_ - 1);
    EXPECT_EQ(toolState.result.newResult, 0);
    EXPECT_EQ(toolState.result.frequencyHz, hz);
    EXPECT_EQ(toolState.result.levelDb, db);
}

TEST_F(Detector, OneSidedSignalsHaveNoCycles)
{
    std::vector<int32_t> positive = Sine(16000, 440, 48000 * 2);
    std::vector<int32_t> negative = positive;
    for (int32_t& s : positive) {
        s = std::abs(s);
    }
    for (int32_t& s : negative) {
        s = -std::abs(s) - 1;
    }
    EXPECT_TRUE(Feed(positive).empty());
    SetUp();
    next_ = 0;
    EXPECT_TRUE(Feed(negative).empty());
}

TEST_F(Detector, AmplitudeDropWaitsForTheStartOver)
{
    const uint32_t dropAt = 48000;
    std::vector<int32_t> samples = Sine(16000, 440, dropAt);
    const auto rest = Sine(8000, 440, 48000 * 2, dropAt);
    samples.insert(samples.end(), rest.begin(), rest.end());
    const auto pubs = Feed(samples);

    const Publication* lastBefore = nullptr;
    const Publication* firstAfter = nullptr;
    for (const Publication& p : pubs) {
        if (p.position <= dropAt) {
            lastBefore = &p;
        } else if (firstAfter == nullptr) {
            firstAfter = &p;
        }
    }
    ASSERT_NE(lastBefore, nullptr);
    ASSERT_NE(firstAfter, nullptr);
    // The start-over comes a second after the last accepted crest; a measurement follows.
    EXPECT_NEAR((firstAfter->position - lastBefore->position) / 48000.0, 1.09, 0.03);
    EXPECT_NEAR(firstAfter->levelDb, -12.25, 0.01);
    EXPECT_DOUBLE_EQ(firstAfter->frequencyHz, 440.0);
}

TEST_F(Detector, AmplitudeJumpCostsOneMeasurement)
{
    // At 1000 Hz a measurement and its two lead-in periods take exactly 2496 samples.
    const uint32_t length = 48000;
    const auto steady = Feed(Sine(16000, 1000, length));
    const size_t before = steady.size();

    SetUp();
    next_ = 0;
    std::vector<int32_t> samples = Sine(10000, 1000, length / 2);
    const auto louder = Sine(16000, 1000, length / 2, length / 2);
    samples.insert(samples.end(), louder.begin(), louder.end());
    const auto jumped = Feed(samples);
    EXPECT_EQ(jumped.size(), before - 1);

    // With both triggers at 0 a jump never restarts the count.
    SetUp();
    next_ = 0;
    toolState.settings.plusTrigger = 0;
    toolState.settings.minusTrigger = 0;
    const size_t steadyAtZero = Feed(Sine(16000, 1000, length)).size();
    SetUp();
    next_ = 0;
    toolState.settings.plusTrigger = 0;
    toolState.settings.minusTrigger = 0;
    EXPECT_EQ(Feed(samples).size(), steadyAtZero);
}

struct SettingsCase {
    friend void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }
    const char* name;
    uint32_t minDuration;
    uint32_t validDuration;
    int32_t trigger;
    std::vector<double> frequencies;  // the values publications cycle through
};

class DetectorSettings : public Detector, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(DetectorSettings, Hz440)
{
    const SettingsCase& c = GetParam();
    toolState.settings.minDuration = c.minDuration;
    toolState.settings.validDuration = c.validDuration;
    toolState.settings.plusTrigger = c.trigger;
    toolState.settings.minusTrigger = c.trigger;
    const auto pubs = Feed(Sine(16000, 440, 48000 * 2));
    if (c.frequencies.empty()) {
        EXPECT_TRUE(pubs.empty());
        return;
    }
    ASSERT_GT(pubs.size(), c.frequencies.size());
    for (const Publication& p : pubs) {
        bool known = false;
        for (double f : c.frequencies) {
            known = known || std::abs(p.frequencyHz - f) < 0.00005;
        }
        EXPECT_TRUE(known) << p.frequencyHz << " at " << p.position;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Figures, DetectorSettings,
    ::testing::Values(
        // Only one crest in each repeating 1200-sample pattern reaches the reference.
        SettingsCase{"TriggersAtOne", 2400, 48000, 65536, {40.0}},
        // A single period per measurement: 110 and 109 samples alternate.
        SettingsCase{"MinDurationZero", 0, 48000, 0xC000, {436.3636, 440.3670}},
        // Any sample that is not itself accepted starts the detector over.
        SettingsCase{"ValidDurationZero", 2400, 0, 0xC000, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Detector, MinDurationZeroPublishesEveryThreePeriods)
{
    toolState.settings.minDuration = 0;
    const auto pubs = Feed(Sine(16000, 440, 48000));
    ASSERT_GT(pubs.size(), 10u);
    int spans109 = 0;
    int spans110 = 0;
    for (size_t k = 1; k < pubs.size(); ++k) {
        EXPECT_EQ(pubs[k].periods, 1u);
        EXPECT_NEAR(pubs[k].position - pubs[k - 1].position, 3 * 48000.0 / 440, 2);
        spans109 += pubs[k].span == 109 ? 1 : 0;
        spans110 += pubs[k].span == 110 ? 1 : 0;
    }
    EXPECT_GT(spans109, 0);
    EXPECT_GT(spans110, 0);
    EXPECT_EQ(spans109 + spans110, static_cast<int>(pubs.size()) - 1);
}

TEST_F(Detector, ValidDurationZeroMeasuresSignalsWhereEverySampleIsAnExtreme)
{
    toolState.settings.validDuration = 0;
    // Square wave with flat tops and bottoms, 50 samples each: 480 Hz.
    std::vector<int32_t> square(48000);
    for (uint32_t p = 0; p < square.size(); ++p) {
        square[p] = (p / 50) % 2 == 0 ? 12000 : -12000;
    }
    auto pubs = Feed(square);
    ASSERT_FALSE(pubs.empty());
    for (const Publication& p : pubs) {
        EXPECT_DOUBLE_EQ(p.frequencyHz, 480.0);
    }

    // Alternating sign at every sample: the Nyquist frequency.
    SetUp();
    next_ = 0;
    toolState.settings.validDuration = 0;
    std::vector<int32_t> alternating(48000);
    for (uint32_t p = 0; p < alternating.size(); ++p) {
        alternating[p] = p % 2 == 0 ? 9000 : -9000;
    }
    pubs = Feed(alternating);
    ASSERT_FALSE(pubs.empty());
    EXPECT_DOUBLE_EQ(pubs.back().frequencyHz, 24000.0);
}

TEST_F(Detector, VerySlowTonesAreLostPastTheValidDuration)
{
    const auto measured = Feed(Sine(16000, 0.27, 48000 * 20));
    ASSERT_FALSE(measured.empty());
    EXPECT_NEAR(measured.front().frequencyHz, 0.27, 0.001);
    SetUp();
    next_ = 0;
    EXPECT_TRUE(Feed(Sine(16000, 0.26, 48000 * 20)).empty());
}

TEST_F(Detector, PublicationsFollowAPeakNeverATrough)
{
    for (double hz : {50.0, 440.0, 441.0, 1000.0, 18000.0}) {
        SetUp();
        next_ = 0;
        const auto samples = Sine(16000, hz, 48000);
        for (const Publication& p : Feed(samples)) {
            // The judged sample is the one before the publishing position: a non-negative
            // sample after which the signal does not rise.
            const int32_t judged = samples[p.position - 1];
            EXPECT_GE(judged, 0) << hz;
            EXPECT_LE(samples[p.position], judged) << hz;
        }
    }
}

TEST_F(Detector, SpansAcrossThePositionWrapAreExact)
{
    next_ = 0xFFFFFFFFu - 5000;
    const auto pubs = Feed(Sine(16000, 440, 48000));
    ASSERT_GT(pubs.size(), 10u);
    bool crossed = false;
    for (const Publication& p : pubs) {
        EXPECT_DOUBLE_EQ(p.frequencyHz, 440.0);
        EXPECT_EQ(p.span, 2400u);
        crossed = crossed || p.position < 48000;
    }
    EXPECT_TRUE(crossed);
}

TEST_F(Detector, LargestMinCountNeverPublishesAGarbageCount)
{
    // minCount + 1 must not wrap to 0 and let a measurement through with no periods.
    toolState.settings.minCount = 0xFFFFFFFFu;
    EXPECT_TRUE(Feed(Sine(16000, 440, 48000 * 2)).empty());
}

}  // namespace
