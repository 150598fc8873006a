#include "tools/scan/scan_options.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include "core/detector.h"

namespace {

constexpr double kFractionOne = 65536.0;
constexpr uint64_t kMaxU32 = std::numeric_limits<uint32_t>::max();

bool AllDigits(std::string_view text)
{
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// Plain decimals only ("0.75", "1", ".5", "2."): no sign, exponent, inf or nan, so that what
// is accepted is exactly what the help describes.
bool PlainDecimal(std::string_view text, double& value)
{
    const size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    const std::string_view part =
        dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
    if (whole.empty() && part.empty()) {
        return false;
    }
    if ((!whole.empty() && !AllDigits(whole)) || (!part.empty() && !AllDigits(part))) {
        return false;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && end == text.data() + text.size() && std::isfinite(value);
}

// Whole numbers are read in 64 bits so that anything past 32 bits is "out of range", not
// "not a number". Returns false on bad syntax; `value` is clamped to just past 2^32 - 1.
bool WholeNumber(std::string_view text, uint64_t& value)
{
    if (!AllDigits(text)) {
        return false;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range) {
        value = kMaxU32 + 1;
        return true;
    }
    return ec == std::errc{} && end == text.data() + text.size();
}

std::string Quoted(std::string_view text)
{
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about "'" + std::string.
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '\'';
    quoted.append(text);
    quoted += '\'';
    return quoted;
}

// "-1", "-0.5" or "-0.05s": a number, but below every range here.
bool NegativeNumber(std::string_view text)
{
    if (text.size() < 2 || text.front() != '-') {
        return false;
    }
    text.remove_prefix(1);
    if (text.back() == 's') {
        text.remove_suffix(1);
    }
    double ignored = 0.0;
    return PlainDecimal(text, ignored);
}

bool ParseCount(std::string_view name, std::string_view text, uint32_t low, uint32_t& out,
                std::string& error)
{
    uint64_t value = 0;
    if (!WholeNumber(text, value) && !NegativeNumber(text)) {
        error = std::string(name) + ": " + Quoted(text) + " is not a whole number";
        return false;
    }
    if (NegativeNumber(text) || value < low || value > kMaxU32) {
        error = std::string(name) + ": " + Quoted(text) + " is out of range (" +
                std::to_string(low) + " to " + std::to_string(kMaxU32) + ")";
        return false;
    }
    out = static_cast<uint32_t>(value);
    return true;
}

// Whole samples ("2400") or seconds with an s suffix ("0.05s"), at 48000 samples per second.
bool ParseDuration(std::string_view name, std::string_view text, uint32_t& out, std::string& error)
{
    const std::string range = " is out of range (0 to " + std::to_string(kMaxU32) + " samples)";
    if (NegativeNumber(text)) {
        error = std::string(name) + ": " + Quoted(text) + range;
        return false;
    }
    if (!text.empty() && text.back() == 's') {
        double seconds = 0.0;
        if (!PlainDecimal(text.substr(0, text.size() - 1), seconds)) {
            error = std::string(name) + ": " + Quoted(text) +
                    " is neither a whole number of samples nor seconds such as 0.05s";
            return false;
        }
        const double samples = std::round(seconds * kSampleRate);
        if (samples > static_cast<double>(kMaxU32)) {
            error = std::string(name) + ": " + Quoted(text) + range;
            return false;
        }
        out = static_cast<uint32_t>(samples);
        return true;
    }
    uint64_t value = 0;
    if (!WholeNumber(text, value)) {
        error = std::string(name) + ": " + Quoted(text) +
                " is neither a whole number of samples nor seconds such as 0.05s";
        return false;
    }
    if (value > kMaxU32) {
        error = std::string(name) + ": " + Quoted(text) + range;
        return false;
    }
    out = static_cast<uint32_t>(value);
    return true;
}

// A fraction from 0 to 1, kept as 16.16 fixed point.
bool ParseFraction(std::string_view name, std::string_view text, int32_t& out, std::string& error)
{
    double value = 0.0;
    if (NegativeNumber(text) && text.back() != 's') {
        error = std::string(name) + ": " + Quoted(text) + " is out of range (0 to 1)";
        return false;
    }
    if (!PlainDecimal(text, value)) {
        error = std::string(name) + ": " + Quoted(text) + " is not a fraction such as 0.75";
        return false;
    }
    if (value > 1.0) {
        error = std::string(name) + ": " + Quoted(text) + " is out of range (0 to 1)";
        return false;
    }
    out = static_cast<int32_t>(std::lround(value * kFractionOne));
    return true;
}

} // namespace

bool ParseScanOptions(int argc, char** argv, ScanOptions& options, std::string& error)
{
    bool optionsEnded = false;
    bool haveFile = false;
    for (int k = 1; k < argc; ++k) {
        const std::string_view arg = argv[k];
        if (optionsEnded || arg.size() < 2 || arg.substr(0, 2) != "--") {
            if (arg.size() >= 2 && arg[0] == '-' && !optionsEnded) {
                error = "unknown option " + Quoted(arg);
                return false;
            }
            if (haveFile) {
                error = "more than one FILE given (" + Quoted(options.file) + " and " +
                        Quoted(arg) + ")";
                return false;
            }
            options.file = arg;
            haveFile = true;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }

        // "--name value" or "--name=value".
        std::string_view name = arg;
        std::string_view value;
        bool inlineValue = false;
        if (const size_t eq = arg.find('='); eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }

        if (name == "--help" || name == "--version") {
            if (inlineValue) {
                error = std::string(name) + " takes no value";
                return false;
            }
            options.action =
                name == "--help" ? ScanOptions::Action::Help : ScanOptions::Action::Version;
            return true;
        }

        const bool known = name == "--min-count" || name == "--min-duration" ||
                           name == "--plus-trigger" || name == "--minus-trigger" ||
                           name == "--valid-duration" || name == "--channel";
        if (!known) {
            error = "unknown option " + Quoted(name);
            return false;
        }
        if (!inlineValue) {
            if (k + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return false;
            }
            value = argv[++k];
        }

        bool ok = false;
        if (name == "--min-count") {
            ok = ParseCount(name, value, kMinMinCount, options.minCount, error);
        } else if (name == "--min-duration") {
            ok = ParseDuration(name, value, options.minDuration, error);
        } else if (name == "--plus-trigger") {
            ok = ParseFraction(name, value, options.plusTrigger, error);
        } else if (name == "--minus-trigger") {
            ok = ParseFraction(name, value, options.minusTrigger, error);
        } else if (name == "--valid-duration") {
            ok = ParseDuration(name, value, options.validDuration, error);
        } else {
            ok = ParseCount(name, value, 1, options.channel, error);
        }
        if (!ok) {
            return false;
        }
    }
    if (!haveFile) {
        error = "no input FILE given (try --help)";
        return false;
    }
    return true;
}

std::string ScanUsage()
{
    return R"(Usage: tovalisk-scan [options] FILE

Runs the live meter's frequency and level detector over a sound file and prints one CSV row
per published measurement on standard output:
  position,time_s,periods,span_samples,frequency_hz,level_db
position counts 48 kHz samples from 0 at the file's first sample; time_s = position / 48000;
periods whole periods over span_samples samples; level_db is the last cycle's peak-to-peak
swing relative to 65535.

FILE is anything libsndfile reads (WAV, FLAC, Ogg/Vorbis, AIFF, ...). Several channels are
mixed to mono by averaging; other sample rates are converted to 48000 Hz; other sample
formats are rounded to 16 bits with clipping. 48 kHz 16-bit mono PCM is used as it is.
FILE may be /dev/stdin for formats that need no seeking, such as WAV.

Options (defaults are the live meter's):
  --channel N         analyse channel N only (1 is the first) instead of the mix
  --min-count N       publish after more than N cycles, N at least 1 (default 1)
  --min-duration D    shortest span of a measurement (default 2400 = 0.05s)
  --plus-trigger F    fraction of the running peak reference that a peak must reach
                      (default 0.75)
  --minus-trigger F   the same for troughs (default 0.75)
  --valid-duration D  start over after more than D without a peak or trough
                      (default 48000 = 1s)
  --help              print this help and exit
  --version           print the version and exit

D is a whole number of samples at 48000 per second (2400) or seconds with an s suffix
(0.05s, rounded to the nearest sample), from 0 to 4294967295 samples. F is a fraction from
0 to 1 (0.75), kept in steps of 1/65536. Values may also be given as --option=VALUE.

Progress is shown on standard error when it is a terminal and the file is longer than 10 s.
Exit status: 0 when the file was analysed (also when it ends early: a warning says so),
2 for a usage error or a file that cannot be read.
)";
}
