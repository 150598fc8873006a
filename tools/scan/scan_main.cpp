// tovalisk-scan: the live meter's detector over a sound file, one CSV row per measurement.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/detector.h"
#include "core/tool_state.h"
#include "tools/scan/scan_input.h"
#include "tools/scan/scan_options.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kUsageOrInputError = 2;
// Shorter inputs finish before progress would be worth looking at.
constexpr double kProgressAfterSeconds = 10.0;

void Fail(const std::string& message)
{
    std::fprintf(stderr, "tovalisk-scan: %s\n", message.c_str());
}

// A percentage on one terminal line, rewritten only when it changes.
struct ProgressLine {
    bool shown = false;
    int last = -1;

    void Update(double share)
    {
        const int percent = static_cast<int>(share * 100.0);
        if (!shown || percent == last) {
            return;
        }
        last = percent;
        std::fprintf(stderr, "\rtovalisk-scan: %3d%%", percent);
        std::fflush(stderr);
    }

    void Clear()
    {
        if (shown && last >= 0) {
            std::fputs("\r                   \r", stderr);
            std::fflush(stderr);
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    ScanOptions options;
    std::string error;
    if (!ParseScanOptions(argc, argv, options, error)) {
        Fail(error);
        return kUsageOrInputError;
    }
    if (options.action == ScanOptions::Action::Help) {
        std::fputs(ScanUsage().c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : kUsageOrInputError;
    }
    if (options.action == ScanOptions::Action::Version) {
        // Only the name and number of the resampler, not its copyright line.
        std::string resampler = src_get_version();
        resampler = resampler.substr(0, resampler.find(" ("));
        std::printf("tovalisk-scan %s (%s, %s)\n", TOVALISK_VERSION, sf_version_string(),
                    resampler.c_str());
        return std::fflush(stdout) == 0 ? 0 : kUsageOrInputError;
    }

    SoundInput input;
    if (!input.Open(options.file, options.channel, error)) {
        Fail(error);
        return kUsageOrInputError;
    }

    // Rows are written only at publications; a large buffer keeps writes rare.
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);

    ResetDetector();
    InitToolState();
    MeasureSettings& s = toolState.settings;
    s.minCount.store(options.minCount, kRelaxed);
    s.minDuration.store(options.minDuration, kRelaxed);
    s.plusTrigger.store(options.plusTrigger, kRelaxed);
    s.minusTrigger.store(options.minusTrigger, kRelaxed);
    s.validDuration.store(options.validDuration, kRelaxed);
    MeasureResult& result = toolState.result;

    ProgressLine progress;
    progress.shown = isatty(STDERR_FILENO) == 1 && input.DeclaredSeconds() > kProgressAfterSeconds;

    // The detector counts positions in 32 bits and its differences wrap cleanly; the CSV keeps
    // counting in 64 bits so that inputs past 2^32 samples (24.8 h) still get true positions.
    uint64_t position = 0;
    bool anyRead = false;
    std::vector<int16_t> block;
    while (input.Next(block)) {
        if (!anyRead) {
            std::fputs("position,time_s,periods,span_samples,frequency_hz,level_db\n", stdout);
            anyRead = true;
        }
        for (const int16_t sample : block) {
            ProcessSample(static_cast<uint32_t>(position), sample);
            if (result.newResult.load(kRelaxed) != 0) {
                result.newResult.store(0, kRelaxed);
                std::printf("%llu,%.6f,%u,%u,%.6f,%.6f\n",
                            static_cast<unsigned long long>(position),
                            static_cast<double>(position) / kSampleRate, detector.lastPeriods,
                            detector.lastSpan, result.frequencyHz.load(kRelaxed),
                            result.levelDb.load(kRelaxed));
            }
            ++position;
        }
        progress.Update(input.Progress());
    }
    progress.Clear();

    if (!input.Failure().empty()) {
        Fail(options.file + ": " + input.Failure());
        return kUsageOrInputError;
    }
    const std::string early = input.EndedEarly();
    if (!anyRead) {
        Fail(options.file + ": no samples could be read" +
             (early.empty() ? "" : " (" + early + ")"));
        return kUsageOrInputError;
    }
    if (!early.empty()) {
        std::fprintf(
            stderr,
            "tovalisk-scan: warning: %s: the file ends early (%s); analysed the first %.3f s\n",
            options.file.c_str(), early.c_str(), input.SecondsRead());
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        Fail("error writing the output");
        return kUsageOrInputError;
    }
    return 0;
}
