// Runs the built tovalisk-scan on sound files written here with libsndfile and compares its
// CSV with what the detector publishes for the same samples fed in-process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/detector.h"
#include "core/tool_state.h"

namespace {

namespace fs = std::filesystem;

constexpr char kHeader[] = "position,time_s,periods,span_samples,frequency_hz,level_db\n";
constexpr double kPi = 3.14159265358979323846;

struct RunResult {
    int status = -1; // exit code, or -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs the tool with stdout and stderr captured in files; with `stderrOnTerminal` stderr is a
// pseudo-terminal instead, read until the tool closes it.
RunResult RunScan(const fs::path& dir, const std::vector<std::string>& args,
                  bool stderrOnTerminal = false)
{
    const fs::path outPath = dir / "stdout.txt";
    const fs::path errPath = dir / "stderr.txt";
    int master = -1;
    int slave = -1;
    if (stderrOnTerminal) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(master, 0);
        EXPECT_EQ(grantpt(master), 0);
        EXPECT_EQ(unlockpt(master), 0);
        slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        EXPECT_GE(slave, 0);
    }

    std::vector<char*> argv;
    std::string program = TOVALISK_SCAN;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err =
            stderrOnTerminal ? slave : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0) {
            _exit(127);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    EXPECT_GT(pid, 0);

    RunResult result;
    if (stderrOnTerminal) {
        close(slave);
        char buffer[4096];
        for (;;) {
            const ssize_t got = read(master, buffer, sizeof buffer);
            if (got <= 0) {
                break; // EIO once the tool has closed its end
            }
            result.err.append(buffer, static_cast<size_t>(got));
        }
        close(master);
    }
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(outPath);
    if (!stderrOnTerminal) {
        result.err = ReadFile(errPath);
    }
    return result;
}

struct Settings {
    uint32_t minCount = kDefaultMinCount;
    uint32_t minDuration = kDefaultMinDuration;
    int32_t plusTrigger = kDefaultPlusTrigger;
    int32_t minusTrigger = kDefaultMinusTrigger;
    uint32_t validDuration = kDefaultValidDuration;
};

// The rows the tool must print for these samples: the detector fed in-process.
std::string ExpectedCsv(const std::vector<int16_t>& samples, const Settings& settings = {})
{
    ResetDetector();
    InitToolState();
    MeasureSettings& s = toolState.settings;
    s.minCount = settings.minCount;
    s.minDuration = settings.minDuration;
    s.plusTrigger = settings.plusTrigger;
    s.minusTrigger = settings.minusTrigger;
    s.validDuration = settings.validDuration;
    std::string csv = kHeader;
    for (uint32_t i = 0; i < samples.size(); ++i) {
        ProcessSample(i, samples[i]);
        if (toolState.result.newResult != 0) {
            toolState.result.newResult = 0;
            char row[160];
            std::snprintf(row, sizeof row, "%u,%.6f,%u,%u,%.6f,%.6f\n", i, i / 48000.0,
                          detector.lastPeriods, detector.lastSpan,
                          toolState.result.frequencyHz.load(), toolState.result.levelDb.load());
            csv += row;
        }
    }
    return csv;
}

size_t RowCount(const std::string& csv)
{
    return static_cast<size_t>(std::count(csv.begin(), csv.end(), '\n')) - 1;
}

struct Row {
    uint64_t position;
    double timeS;
    uint32_t periods;
    uint32_t span;
    double frequencyHz;
    double levelDb;
};

std::vector<Row> ParseRows(const std::string& csv)
{
    std::vector<Row> rows;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        Row r{};
        unsigned long long position = 0;
        EXPECT_EQ(std::sscanf(line.c_str(), "%llu,%lf,%u,%u,%lf,%lf", &position, &r.timeS,
                              &r.periods, &r.span, &r.frequencyHz, &r.levelDb),
                  6)
            << line;
        r.position = position;
        rows.push_back(r);
    }
    return rows;
}

std::vector<int16_t> Sine(double hz, double amplitude, size_t count, double rate = 48000.0)
{
    std::vector<int16_t> out(count);
    for (size_t p = 0; p < count; ++p) {
        out[p] = static_cast<int16_t>(
            std::lround(amplitude * std::sin(2.0 * kPi * hz * static_cast<double>(p) / rate)));
    }
    return out;
}

// A tone with an overtone, slow swell and noise, normalised to about +-1: every sample value
// moves the detector's peaks, troughs and levels, so any change to a sample shows in the rows.
std::vector<double> RichSignal(size_t count, uint32_t seed = 12345)
{
    std::vector<double> out(count);
    uint32_t state = seed;
    for (size_t p = 0; p < count; ++p) {
        state = state * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 0.02;
        const double t = static_cast<double>(p) / 48000.0;
        const double swell = 0.8 + 0.2 * std::sin(2.0 * kPi * 0.7 * t);
        out[p] = swell * (0.8 * std::sin(2.0 * kPi * 441.0 * t) +
                          0.15 * std::sin(2.0 * kPi * 1234.0 * t)) +
                 noise;
    }
    return out;
}

std::vector<int16_t> Quantised16(const std::vector<double>& signal, double scale)
{
    std::vector<int16_t> out(signal.size());
    for (size_t p = 0; p < signal.size(); ++p) {
        out[p] = static_cast<int16_t>(std::clamp(std::lround(signal[p] * scale), -32768L, 32767L));
    }
    return out;
}

// The conversion rule for other sample formats: nearest 16-bit value, clipped, NaN as 0.
int16_t RoundClip(double fullScale)
{
    if (std::isnan(fullScale)) {
        return 0;
    }
    return static_cast<int16_t>(std::clamp(std::round(fullScale), -32768.0, 32767.0));
}

template <typename T>
void WriteSound(const fs::path& path, int format, int rate, int channels,
                const std::vector<T>& interleaved)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
    const auto count = static_cast<sf_count_t>(interleaved.size());
    sf_count_t written = 0;
    if constexpr (std::is_same_v<T, int16_t>) {
        written = sf_write_short(file, interleaved.data(), count);
    } else if constexpr (std::is_same_v<T, int32_t>) {
        written = sf_write_int(file, interleaved.data(), count);
    } else if constexpr (std::is_same_v<T, float>) {
        written = sf_write_float(file, interleaved.data(), count);
    } else {
        written = sf_write_double(file, interleaved.data(), count);
    }
    EXPECT_EQ(written, count);
    sf_close(file);
}

class ScanTool : public ::testing::Test {
  protected:
    void SetUp() override
    {
        char name[] = "/tmp/tovalisk-scan-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string Path(const std::string& name) const
    {
        return (dir_ / name).string();
    }
    RunResult Run(const std::vector<std::string>& args, bool stderrOnTerminal = false) const
    {
        return RunScan(dir_, args, stderrOnTerminal);
    }

    fs::path dir_;
};

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

TEST_F(ScanTool, ToneReadsExactFrequencyAndLevel)
{
    WriteSound(Path("tone.wav"), kWav16, 48000, 1, Sine(440.0, 16000.0, 48000));
    const RunResult r = Run({Path("tone.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.out.substr(0, sizeof kHeader - 1), kHeader);
    const std::vector<Row> rows = ParseRows(r.out);
    ASSERT_GE(rows.size(), 17u);
    for (size_t k = 0; k < rows.size(); ++k) {
        const Row& row = rows[k];
        EXPECT_EQ(row.periods, 22u);
        EXPECT_EQ(row.span, 2400u);
        EXPECT_EQ(row.frequencyHz, 440.0);
        // The sampled crests fall a few units short of 16000: swings of 31990 to 32000.
        EXPECT_GE(row.levelDb, 20.0 * std::log10(31990.0 / 65535.0));
        EXPECT_LE(row.levelDb, 20.0 * std::log10(32000.0 / 65535.0));
        EXPECT_NEAR(row.timeS, static_cast<double>(row.position) / 48000.0, 0.5e-6);
        if (k > 0) {
            const uint64_t step = row.position - rows[k - 1].position;
            EXPECT_TRUE(step == 2618 || step == 2619) << step;
        }
    }
}

// 16-bit mono PCM at 48 kHz reaches the detector unchanged, in every container that holds it.
TEST_F(ScanTool, PcmAt48kHzReachesDetectorUnchanged)
{
    const std::vector<int16_t> samples = Quantised16(RichSignal(96000), 30000.0);
    const std::string expected = ExpectedCsv(samples);
    ASSERT_GE(RowCount(expected), 20u);

    const struct {
        const char* name;
        int format;
    } cases[] = {
        {"a.wav", kWav16},
        {"a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"a.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
    };
    std::string wavRows;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteSound(Path(c.name), c.format, 48000, 1, samples);
        const RunResult r = Run({Path(c.name)});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, expected);
        if (wavRows.empty()) {
            wavRows = r.out;
        }
        EXPECT_EQ(r.out, wavRows);
    }
}

TEST_F(ScanTool, OtherSampleFormatsAreRoundedWithClipping)
{
    // Beyond full scale in places, so that clipping happens too.
    const std::vector<double> signal = [] {
        std::vector<double> s = RichSignal(96000, 777);
        for (double& v : s) {
            v *= 1.3;
        }
        return s;
    }();
    std::vector<int32_t> pcm24(signal.size());
    std::vector<int32_t> pcm32(signal.size());
    std::vector<float> floats(signal.size());
    std::vector<double> doubles(signal.size());
    for (size_t p = 0; p < signal.size(); ++p) {
        const double v24 = std::clamp(std::round(signal[p] * 8388608.0), -8388608.0, 8388607.0);
        pcm24[p] = static_cast<int32_t>(v24) * 256;
        pcm32[p] = static_cast<int32_t>(
            std::clamp(std::round(signal[p] * 2147483648.0), -2147483648.0, 2147483647.0));
        floats[p] = static_cast<float>(signal[p]);
        doubles[p] = signal[p] + 1e-7;
    }
    // Values no converter may turn into garbage.
    for (const size_t p : {1000u, 20000u, 50001u}) {
        floats[p] = std::nanf("");
        doubles[p] = -HUGE_VAL;
        floats[p + 7] = HUGE_VALF;
    }

    const auto expectedFrom = [](const auto& values, double toFullScale, bool truncate) {
        std::vector<int16_t> out(values.size());
        for (size_t p = 0; p < values.size(); ++p) {
            const double v = static_cast<double>(values[p]) * toFullScale;
            out[p] = truncate ? static_cast<int16_t>(std::clamp(std::trunc(std::isnan(v) ? 0.0 : v),
                                                                -32768.0, 32767.0))
                              : RoundClip(v);
        }
        return out;
    };

    const struct {
        const char* name;
        int format;
        std::vector<int16_t> rounded;
        std::vector<int16_t> truncated;
    } cases[] = {
        {"24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, expectedFrom(pcm24, 1.0 / 65536.0, false),
         expectedFrom(pcm24, 1.0 / 65536.0, true)},
        {"24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, expectedFrom(pcm24, 1.0 / 65536.0, false),
         expectedFrom(pcm24, 1.0 / 65536.0, true)},
        {"32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, expectedFrom(pcm32, 1.0 / 65536.0, false),
         expectedFrom(pcm32, 1.0 / 65536.0, true)},
        {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, expectedFrom(floats, 32768.0, false),
         expectedFrom(floats, 32768.0, true)},
        {"double.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, expectedFrom(doubles, 32768.0, false),
         expectedFrom(doubles, 32768.0, true)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string expected = ExpectedCsv(c.rounded);
        // The fixture must tell rounding from truncation, or the comparison proves little.
        ASSERT_NE(expected, ExpectedCsv(c.truncated));
        if (c.format == (SF_FORMAT_WAV | SF_FORMAT_FLOAT)) {
            WriteSound(Path(c.name), c.format, 48000, 1, floats);
        } else if (c.format == (SF_FORMAT_WAV | SF_FORMAT_DOUBLE)) {
            WriteSound(Path(c.name), c.format, 48000, 1, doubles);
        } else if ((c.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_32) {
            WriteSound(Path(c.name), c.format, 48000, 1, pcm32);
        } else {
            WriteSound(Path(c.name), c.format, 48000, 1, pcm24);
        }
        const RunResult r = Run({Path(c.name)});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, expected);
    }
}

TEST_F(ScanTool, ChannelsAreAveragedUnlessOneIsPicked)
{
    // Left and right differ sample by sample but average exactly to `mid`.
    const std::vector<int16_t> mid = Quantised16(RichSignal(96000, 99), 20000.0);
    const std::vector<int16_t> offset = Quantised16(RichSignal(96000, 5), 9000.0);
    std::vector<int16_t> left(mid.size());
    std::vector<int16_t> right(mid.size());
    std::vector<int16_t> stereo;
    for (size_t p = 0; p < mid.size(); ++p) {
        left[p] = static_cast<int16_t>(mid[p] + offset[p]);
        right[p] = static_cast<int16_t>(mid[p] - offset[p]);
        stereo.push_back(left[p]);
        stereo.push_back(right[p]);
    }
    WriteSound(Path("stereo.wav"), kWav16, 48000, 2, stereo);

    const struct {
        std::vector<std::string> options;
        const std::vector<int16_t>* samples;
    } cases[] = {
        {{}, &mid},
        {{"--channel", "1"}, &left},
        {{"--channel=2"}, &right},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.options;
        args.push_back(Path("stereo.wav"));
        SCOPED_TRACE(args.front());
        const RunResult r = Run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, ExpectedCsv(*c.samples));
    }
    EXPECT_NE(ExpectedCsv(left), ExpectedCsv(mid));
    EXPECT_NE(ExpectedCsv(right), ExpectedCsv(mid));
}

TEST_F(ScanTool, OtherSampleRatesAreConvertedTo48kHz)
{
    const struct {
        int rate;
        int channels;
        double hz;
        size_t minRows;
    } cases[] = {
        {44100, 2, 440.0, 34},
        {96000, 1, 1000.0, 30},
        {22050, 1, 50.0, 18},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        const std::vector<int16_t> tone =
            Sine(c.hz, 16384.0, static_cast<size_t>(2 * c.rate), c.rate);
        std::vector<int16_t> interleaved;
        for (const int16_t v : tone) {
            interleaved.insert(interleaved.end(), static_cast<size_t>(c.channels), v);
        }
        const std::string name = "rate" + std::to_string(c.rate) + ".wav";
        WriteSound(Path(name), kWav16, c.rate, c.channels, interleaved);
        const RunResult r = Run({Path(name)});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const std::vector<Row> rows = ParseRows(r.out);
        EXPECT_GE(rows.size(), c.minRows);
        for (const Row& row : rows) {
            EXPECT_NEAR(row.frequencyHz, c.hz, 1.0);
            EXPECT_NEAR(row.levelDb, -6.02, 0.1);
        }
        // No delay: measurements land where they land for the same tone recorded at 48 kHz,
        // and 2 s still end at position 96000.
        const std::vector<Row> native = ParseRows(ExpectedCsv(Sine(c.hz, 16384.0, 96000)));
        ASSERT_FALSE(rows.empty());
        ASSERT_FALSE(native.empty());
        EXPECT_LE(std::max(rows[0].position, native[0].position) -
                      std::min(rows[0].position, native[0].position),
                  2u);
        EXPECT_LT(rows.back().position, 96000u);
    }
}

// The rate converter takes floats: a double beyond their range must not reach it as an
// infinity, which rings through a few hundred neighbours as full-scale noise.
TEST_F(ScanTool, DoublesBeyondFloatRangeBeforeRateConversionCountAsInfinite)
{
    std::vector<double> tone(44100);
    for (size_t p = 0; p < tone.size(); ++p) {
        tone[p] = 0.5 * std::sin(2.0 * kPi * 440.0 * static_cast<double>(p) / 44100.0);
    }
    std::vector<std::string> outputs;
    for (const double spike : {HUGE_VAL, 1e300, 3.5e38, -HUGE_VAL, -1e300}) {
        SCOPED_TRACE(spike);
        std::vector<double> samples = tone;
        samples[22050] = spike;
        const std::string name = "spike" + std::to_string(outputs.size()) + ".wav";
        WriteSound(Path(name), SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 44100, 1, samples);
        const RunResult r = Run({"--min-duration", "0", Path(name)});
        EXPECT_EQ(r.status, 0) << r.err;
        outputs.push_back(r.out);
        // Some rows of the tone, and nothing of ringing at the spike.
        const std::vector<Row> rows = ParseRows(r.out);
        EXPECT_GE(rows.size(), 50u);
        for (const Row& row : rows) {
            EXPECT_NEAR(row.frequencyHz, 440.0, 5.0) << "at " << row.position;
        }
    }
    EXPECT_EQ(outputs[1], outputs[0]);
    EXPECT_EQ(outputs[2], outputs[0]);
    EXPECT_EQ(outputs[4], outputs[3]);
}

TEST_F(ScanTool, SettingsReachTheDetector)
{
    const std::vector<int16_t> samples = Quantised16(RichSignal(96000, 4242), 25000.0);
    WriteSound(Path("rich.wav"), kWav16, 48000, 1, samples);
    const std::string defaults = ExpectedCsv(samples);

    const auto with = [](auto change) {
        Settings s;
        change(s);
        return s;
    };
    const struct {
        std::vector<std::string> options;
        Settings settings;
    } cases[] = {
        {{}, {}},
        {{"--min-duration", "0.05s"}, {}},
        {{"--min-duration", "0"}, with([](Settings& s) { s.minDuration = 0; })},
        {{"--min-duration=1200"}, with([](Settings& s) { s.minDuration = 1200; })},
        {{"--min-duration", "0.0104166s"}, with([](Settings& s) { s.minDuration = 500; })},
        {{"--min-count", "30"}, with([](Settings& s) { s.minCount = 30; })},
        {{"--plus-trigger", "1", "--minus-trigger", "1"}, with([](Settings& s) {
             s.plusTrigger = 65536;
             s.minusTrigger = 65536;
         })},
        {{"--plus-trigger", "0.9"}, with([](Settings& s) { s.plusTrigger = 58982; })},
        {{"--minus-trigger", ".5"}, with([](Settings& s) { s.minusTrigger = 32768; })},
        {{"--plus-trigger", "0", "--minus-trigger", "0"}, with([](Settings& s) {
             s.plusTrigger = 0;
             s.minusTrigger = 0;
         })},
        {{"--valid-duration", "0.0002s"}, with([](Settings& s) { s.validDuration = 10; })},
        {{"--valid-duration", "10", "--"}, with([](Settings& s) { s.validDuration = 10; })},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.options;
        args.push_back(Path("rich.wav"));
        SCOPED_TRACE(::testing::PrintToString(c.options));
        const std::string expected = ExpectedCsv(samples, c.settings);
        const bool isDefault = c.settings.minCount == kDefaultMinCount &&
                               c.settings.minDuration == kDefaultMinDuration &&
                               c.settings.plusTrigger == kDefaultPlusTrigger &&
                               c.settings.minusTrigger == kDefaultMinusTrigger &&
                               c.settings.validDuration == kDefaultValidDuration;
        // Each changed setting must change the rows on this input, or the case shows nothing.
        EXPECT_EQ(expected == defaults, isDefault);
        const RunResult r = Run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, expected);
    }
}

TEST_F(ScanTool, BadInvocationsAndInputsAreReportedWithExitCode2)
{
    const std::string mono = Path("mono.wav");
    const std::string stereo = Path("stereo.wav");
    WriteSound(mono, kWav16, 48000, 1, Sine(440.0, 8000.0, 4800));
    WriteSound(stereo, kWav16, 48000, 2, Sine(440.0, 8000.0, 9600));
    WriteSound(Path("noframes.wav"), kWav16, 48000, 1, std::vector<int16_t>{});
    WriteSound(Path("lowrate.wav"), kWav16, 100, 1, Sine(10.0, 8000.0, 1000, 100.0));
    WriteSound(Path("headeronly.wav"), kWav16, 48000, 1, Sine(440.0, 8000.0, 4800));
    fs::resize_file(Path("headeronly.wav"), 44);
    fs::create_directory(Path("folder.wav"));
    std::ofstream(Path("empty.wav")).close();
    {
        std::ofstream garbage(Path("garbage.wav"), std::ios::binary);
        uint32_t state = 1;
        for (int k = 0; k < 5000; ++k) {
            state = state * 1103515245u + 12345u;
            garbage.put(static_cast<char>(state >> 24));
        }
    }
    std::ofstream(Path("locked.wav")).put('x');
    fs::permissions(Path("locked.wav"), fs::perms::none);

    const struct {
        std::vector<std::string> args;
        std::vector<std::string> needles;
        bool skipAsRoot = false;
    } cases[] = {
        {{}, {"FILE"}},
        {{mono, Path("other.wav")}, {"more than one FILE"}},
        {{"--frobnicate", mono}, {"--frobnicate", "unknown option"}},
        {{"-x", mono}, {"'-x'", "unknown option"}},
        {{"--help=yes"}, {"--help"}},
        {{mono, "--min-count"}, {"--min-count", "needs a value"}},
        {{"--min-count", "0", mono}, {"--min-count", "out of range"}},
        {{"--min-count", "1.5", mono}, {"--min-count", "whole number"}},
        {{"--min-count", "4294967296", mono}, {"--min-count", "out of range"}},
        {{"--plus-trigger", "1.5", mono}, {"--plus-trigger", "out of range"}},
        {{"--minus-trigger", "-0.1", mono}, {"--minus-trigger", "out of range"}},
        {{"--plus-trigger", "0.75x", mono}, {"--plus-trigger", "0.75x"}},
        {{"--plus-trigger", "nan", mono}, {"--plus-trigger", "nan"}},
        {{"--plus-trigger", "1e-1", mono}, {"--plus-trigger", "1e-1"}},
        {{"--min-duration", "-1", mono}, {"--min-duration", "out of range"}},
        {{"--min-duration", "0.05x", mono}, {"--min-duration", "0.05x"}},
        {{"--min-duration", "s", mono}, {"--min-duration", "'s'"}},
        {{"--min-duration", "", mono}, {"--min-duration", "''"}},
        {{"--valid-duration", "4294967296", mono}, {"--valid-duration", "out of range"}},
        {{"--valid-duration", "89479.5s", mono}, {"--valid-duration", "out of range"}},
        {{"--channel", "3", stereo}, {"--channel", "3", "2 channels"}},
        {{"--channel", "2", mono}, {"--channel", "1 channel"}},
        {{"--channel", "0", stereo}, {"--channel", "out of range"}},
        {{Path("missing.wav")}, {Path("missing.wav"), "No such file"}},
        {{Path("mono.wav/inner.wav")}, {Path("mono.wav/inner.wav"), "Not a directory"}},
        {{Path("folder.wav")}, {Path("folder.wav"), "directory"}},
        {{Path("empty.wav")}, {Path("empty.wav"), "empty"}},
        {{Path("garbage.wav")}, {Path("garbage.wav"), "format"}},
        {{Path("noframes.wav")}, {Path("noframes.wav"), "no samples"}},
        {{Path("headeronly.wav")}, {Path("headeronly.wav"), "no samples", "header declares more"}},
        {{Path("lowrate.wav")}, {Path("lowrate.wav"), "sample rate 100 Hz"}},
        {{Path("locked.wav")}, {Path("locked.wav"), "Permission denied"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        if (c.skipAsRoot && geteuid() == 0) {
            continue; // root reads it anyway
        }
        const RunResult r = Run(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("tovalisk-scan: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.back(), '\n');
        for (const std::string& needle : c.needles) {
            EXPECT_NE(r.err.find(needle), std::string::npos)
                << "missing '" << needle << "' in: " << r.err;
        }
    }
}

TEST_F(ScanTool, TruncatedFileIsAnalysedAsFarAsItIsReadable)
{
    const std::vector<int16_t> samples = Quantised16(RichSignal(96000, 31), 28000.0);

    // The data chunk still claims all 96000 samples; 60000 and half a sample remain.
    WriteSound(Path("cut.wav"), kWav16, 48000, 1, samples);
    fs::resize_file(Path("cut.wav"), 44 + 2 * 60000 + 1);
    const std::vector<int16_t> readable(samples.begin(), samples.begin() + 60000);
    const RunResult wav = Run({Path("cut.wav")});
    EXPECT_EQ(wav.status, 0);
    EXPECT_EQ(wav.out, ExpectedCsv(readable));
    EXPECT_EQ(std::count(wav.err.begin(), wav.err.end(), '\n'), 1) << wav.err;
    EXPECT_NE(wav.err.find("warning: " + Path("cut.wav") + ": the file ends early"),
              std::string::npos)
        << wav.err;
    EXPECT_NE(wav.err.find("1.250 s"), std::string::npos) << wav.err;

    // A cut FLAC stream loses sync somewhere near its end: rows up to there, then a warning.
    WriteSound(Path("cut.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 1, samples);
    fs::resize_file(Path("cut.flac"), fs::file_size(Path("cut.flac")) * 6 / 10);
    const std::string full = ExpectedCsv(samples);
    const RunResult flac = Run({Path("cut.flac")});
    EXPECT_EQ(flac.status, 0);
    EXPECT_GE(RowCount(flac.out), 10u);
    EXPECT_LT(RowCount(flac.out), RowCount(full));
    EXPECT_EQ(full.rfind(flac.out, 0), 0u) << "rows are not a prefix of the whole file's rows";
    EXPECT_EQ(std::count(flac.err.begin(), flac.err.end(), '\n'), 1) << flac.err;
    EXPECT_NE(flac.err.find("warning: " + Path("cut.flac") + ": the file ends early"),
              std::string::npos)
        << flac.err;
}

TEST_F(ScanTool, HelpListsEveryOptionAndVersionNamesTheTool)
{
    const RunResult help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("Usage: tovalisk-scan [options] FILE\n", 0), 0u);
    for (const char* option :
         {"--channel N", "--min-count N", "--min-duration D", "--plus-trigger F",
          "--minus-trigger F", "--valid-duration D", "--help", "--version"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }

    const RunResult version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind(std::string("tovalisk-scan ") + TOVALISK_VERSION, 0), 0u)
        << version.out;
}

TEST_F(ScanTool, ProgressOnlyOnATerminalAndOnlyForLongInputs)
{
    WriteSound(Path("long.wav"), kWav16, 48000, 1, Sine(440.0, 16000.0, 12 * 48000));
    WriteSound(Path("short.wav"), kWav16, 48000, 1, Sine(440.0, 16000.0, 9 * 48000));

    const RunResult quiet = Run({Path("long.wav")});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");

    const RunResult shown = Run({Path("long.wav")}, true);
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.err.find("100%"), std::string::npos) << shown.err;
    EXPECT_EQ(shown.out, quiet.out);

    const RunResult brief = Run({Path("short.wav")}, true);
    EXPECT_EQ(brief.status, 0);
    EXPECT_EQ(brief.err, "");
}

} // namespace
