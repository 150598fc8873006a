// Drives tovalisk-scan's input path (libsndfile, channel picking, rate conversion, rounding)
// and the detector behind it over arbitrary bytes, as the tool does, and checks what comes out.
//
// Byte 0 picks how the rest is taken; byte 1 picks the channel (0 mixes, 1 to 3, which may not
// exist). The modes:
//   0  the bytes are a whole file, in whatever format libsndfile recognises;
//   1  headerless samples: encoding (1 byte), channels (1), rate (4), then the samples;
//   2  a WAV file whose header this target writes from fields: encoding (1), channels (1),
//      rate (4), RIFF size (1 + 4: exact, any value, more or less), data size (1 + 4), data;
//   3  an AIFF or AIFF-C file the same way: encoding, channels, rate, FORM size, frame count,
//      SSND size, data.
// The header fields let the fuzzer lie about sizes and cut files short without having to
// find libsndfile's parsing paths blind (the library is not instrumented).
#include <sndfile.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/detector.h"
#include "core/tool_state.h"
#include "tools/scan/scan_input.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr char kName[] = "fuzz-input";
// A few bytes of FLAC or Ogg can stand for hours of sound; past this many samples an input
// teaches nothing new.
constexpr size_t kMaxSamples = size_t{1} << 20;
// The most samples one call of Next hands out.
constexpr size_t kMaxBlock = 65536;

[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "scan input check failed: %s\n", what);
    std::abort();
}

#define REQUIRE(condition)                                                                         \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            Broken(#condition);                                                                    \
        }                                                                                          \
    } while (false)

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    uint32_t Byte()
    {
        return at < size ? data[at++] : 0u;
    }
    uint32_t U32()
    {
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            v |= Byte() << (8 * k);
        }
        return v;
    }
    const uint8_t* Rest() const
    {
        return data + (at < size ? at : size);
    }
    size_t RestSize() const
    {
        return at < size ? size - at : 0;
    }
};

uint32_t Channels(uint32_t b)
{
    static constexpr uint32_t kOdd[] = {0, 16, 64, 255, 256, 1024, 2048, 65535};
    return b < 0xF8 ? b % 8 + 1 : kOdd[b - 0xF8];
}

uint32_t Rate(uint32_t raw)
{
    static constexpr uint32_t kCommon[] = {48000, 44100, 8000, 96000, 22050, 11025, 192000, 16000};
    return (raw & 0x80000000u) != 0 ? raw & 0x7FFFFFFFu : kCommon[raw % 8];
}

// A size field: the true size, any value at all, or somewhat more or less than the truth.
uint32_t Claim(uint32_t truth, uint32_t selector, uint32_t raw)
{
    switch (selector % 4) {
    case 0:
        return truth;
    case 1:
        return raw;
    case 2:
        return truth + (raw & 0xFFFFu);
    default:
        return truth > (raw & 0xFFFFu) ? truth - (raw & 0xFFFFu) : 0;
    }
}

void Le16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Le32(std::vector<uint8_t>& out, uint32_t v)
{
    Le16(out, v & 0xFFFFu);
    Le16(out, v >> 16);
}
void Be16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}
void Be32(std::vector<uint8_t>& out, uint32_t v)
{
    Be16(out, v >> 16);
    Be16(out, v & 0xFFFFu);
}
void Tag(std::vector<uint8_t>& out, const char* tag)
{
    for (int k = 0; k < 4; ++k) {
        out.push_back(static_cast<uint8_t>(tag[k]));
    }
}

void Append(std::vector<uint8_t>& out, const uint8_t* bytes, size_t count)
{
    const size_t at = out.size();
    out.resize(at + count);
    if (count != 0) {
        std::memcpy(out.data() + at, bytes, count);
    }
}

// The 80-bit extended float of an AIFF sample rate.
void Extended(std::vector<uint8_t>& out, uint32_t rate)
{
    uint32_t exponent = 0;
    uint64_t mantissa = 0;
    if (rate != 0) {
        int top = 31;
        while ((rate >> top) == 0) {
            --top;
        }
        exponent = 16383u + static_cast<uint32_t>(top);
        mantissa = uint64_t{rate} << (63 - top);
    }
    Be16(out, exponent);
    Be32(out, static_cast<uint32_t>(mantissa >> 32));
    Be32(out, static_cast<uint32_t>(mantissa));
}

// What a test can know exactly: samples of linear PCM or IEEE floats with `bits` bits (0 when
// the encoding is something else), and whether 8-bit samples are unsigned.
struct Layout {
    uint32_t bits = 0;
    bool floats = false;
    bool unsignedBytes = false;
    bool bigEndian = false;
    uint32_t channels = 0;
    uint32_t rate = 0;
    const uint8_t* data = nullptr;
    size_t dataBytes = 0;
    // True when every size in the header is the truth, so every whole frame must come out.
    bool exact = false;
};

struct Encoding {
    int subtype;
    uint32_t bits;
    bool floats;
};

constexpr Encoding kRawEncodings[] = {
    {SF_FORMAT_PCM_16, 16, false}, {SF_FORMAT_PCM_S8, 8, false},    {SF_FORMAT_PCM_U8, 8, false},
    {SF_FORMAT_PCM_24, 24, false}, {SF_FORMAT_PCM_32, 32, false},   {SF_FORMAT_FLOAT, 32, true},
    {SF_FORMAT_DOUBLE, 64, true},  {SF_FORMAT_ULAW, 0, false},      {SF_FORMAT_ALAW, 0, false},
    {SF_FORMAT_GSM610, 0, false},  {SF_FORMAT_VOX_ADPCM, 0, false}, {SF_FORMAT_DWVW_12, 0, false},
    {SF_FORMAT_DWVW_16, 0, false}, {SF_FORMAT_DWVW_24, 0, false},   {SF_FORMAT_DPCM_8, 0, false},
    {SF_FORMAT_DPCM_16, 0, false},
};

SF_INFO RawFormat(Reader& in, Layout& layout)
{
    const uint32_t pick = in.Byte();
    const Encoding& e = kRawEncodings[(pick & 0x3Fu) % std::size(kRawEncodings)];
    const bool big = (pick & 0x40u) != 0;
    SF_INFO info{};
    info.format = SF_FORMAT_RAW | e.subtype | (big ? SF_ENDIAN_BIG : SF_ENDIAN_LITTLE);
    layout.channels = Channels(in.Byte());
    layout.rate = Rate(in.U32());
    info.channels = static_cast<int>(layout.channels);
    info.samplerate = static_cast<int>(layout.rate);
    layout.bits = e.bits;
    layout.floats = e.floats;
    layout.unsignedBytes = e.subtype == SF_FORMAT_PCM_U8;
    layout.bigEndian = big;
    layout.data = in.Rest();
    layout.dataBytes = in.RestSize();
    layout.exact = true;
    return info;
}

std::vector<uint8_t> Wav(Reader& in, Layout& layout)
{
    // Format tag, bits per sample: PCM, IEEE float, A-law, mu-law.
    static constexpr uint32_t kWavEncodings[][2] = {{1, 16}, {1, 8},  {1, 24}, {1, 32},
                                                    {3, 32}, {3, 64}, {6, 8},  {7, 8}};
    const auto& e = kWavEncodings[in.Byte() % 8];
    layout.channels = Channels(in.Byte());
    layout.rate = Rate(in.U32());
    const uint32_t riffSelector = in.Byte();
    const uint32_t riffRaw = in.U32();
    const uint32_t dataSelector = in.Byte();
    const uint32_t dataRaw = in.U32();
    layout.data = in.Rest();
    layout.dataBytes = in.RestSize();
    layout.bits = e[0] == 1 || e[0] == 3 ? e[1] : 0;
    layout.floats = e[0] == 3;
    layout.unsignedBytes = true;
    layout.exact = riffSelector % 4 == 0 && dataSelector % 4 == 0;

    const auto dataSize = static_cast<uint32_t>(layout.dataBytes);
    const uint32_t fmtSize = e[0] == 1 ? 16 : 18;
    const uint32_t blockAlign = (layout.channels * e[1] / 8) & 0xFFFFu;
    std::vector<uint8_t> file;
    Tag(file, "RIFF");
    Le32(file, Claim(4 + 8 + fmtSize + 8 + dataSize, riffSelector, riffRaw));
    Tag(file, "WAVE");
    Tag(file, "fmt ");
    Le32(file, fmtSize);
    Le16(file, e[0]);
    Le16(file, layout.channels & 0xFFFFu);
    Le32(file, layout.rate);
    Le32(file, layout.rate * blockAlign);
    Le16(file, blockAlign);
    Le16(file, e[1]);
    if (fmtSize == 18) {
        Le16(file, 0);
    }
    Tag(file, "data");
    Le32(file, Claim(dataSize, dataSelector, dataRaw));
    Append(file, layout.data, layout.dataBytes);
    return file;
}

std::vector<uint8_t> Aiff(Reader& in, Layout& layout)
{
    // Compression type (none for plain AIFF) and bits per sample.
    static constexpr struct {
        const char* type;
        uint32_t bits;
    } kAiffEncodings[] = {{nullptr, 16}, {nullptr, 8}, {nullptr, 24}, {nullptr, 32},
                          {"fl32", 32},  {"fl64", 64}, {"ulaw", 8},   {"alaw", 8}};
    const auto& e = kAiffEncodings[in.Byte() % 8];
    layout.channels = Channels(in.Byte());
    layout.rate = Rate(in.U32());
    const uint32_t formSelector = in.Byte();
    const uint32_t formRaw = in.U32();
    const uint32_t framesSelector = in.Byte();
    const uint32_t framesRaw = in.U32();
    const uint32_t ssndSelector = in.Byte();
    const uint32_t ssndRaw = in.U32();
    layout.data = in.Rest();
    layout.dataBytes = in.RestSize();
    const bool floats = e.type != nullptr && e.type[0] == 'f';
    layout.bits = e.type == nullptr || floats ? e.bits : 0;
    layout.floats = floats;
    layout.bigEndian = true;
    layout.exact = formSelector % 4 == 0 && framesSelector % 4 == 0 && ssndSelector % 4 == 0;

    const auto dataSize = static_cast<uint32_t>(layout.dataBytes);
    const uint32_t frameBytes = layout.channels * e.bits / 8;
    const uint32_t frames = frameBytes == 0 ? 0 : dataSize / frameBytes;
    const bool aifc = e.type != nullptr;
    const uint32_t commSize = aifc ? 18 + 4 + 2 : 18;
    std::vector<uint8_t> file;
    Tag(file, "FORM");
    const uint32_t formTruth = 4 + (aifc ? 12 : 0) + 8 + commSize + 8 + 8 + dataSize;
    Be32(file, Claim(formTruth, formSelector, formRaw));
    Tag(file, aifc ? "AIFC" : "AIFF");
    if (aifc) {
        Tag(file, "FVER");
        Be32(file, 4);
        Be32(file, 0xA2805140u);
    }
    Tag(file, "COMM");
    Be32(file, commSize);
    Be16(file, layout.channels & 0xFFFFu);
    Be32(file, Claim(frames, framesSelector, framesRaw));
    Be16(file, e.bits);
    Extended(file, layout.rate);
    if (aifc) {
        Tag(file, e.type);
        Be16(file, 0); // empty name, padded
    }
    Tag(file, "SSND");
    Be32(file, Claim(8 + dataSize, ssndSelector, ssndRaw));
    Be32(file, 0);
    Be32(file, 0);
    Append(file, layout.data, layout.dataBytes);
    return file;
}

// The 16-bit sample that a float value must become: the nearest, clipped, NaN as silence.
int16_t FromFloat(double fullScale)
{
    if (std::isnan(fullScale)) {
        return 0;
    }
    const double r = std::round(fullScale);
    return static_cast<int16_t>(r > 32767.0 ? 32767.0 : r < -32768.0 ? -32768.0 : r);
}

// The 16-bit sample that a linear PCM value must become at 48 kHz: shifted to 16 bits, rounded
// half away from zero, clipped. Floats: scaled by 32768, the same way.
int16_t Expected(const Layout& layout, size_t frame, uint32_t channel)
{
    const size_t bytes = layout.bits / 8;
    const uint8_t* at = layout.data + (frame * layout.channels + channel) * bytes;
    uint64_t u = 0;
    for (size_t k = 0; k < bytes; ++k) {
        u = layout.bigEndian ? (u << 8) | at[k] : u | uint64_t{at[k]} << (8 * k);
    }
    if (layout.floats && bytes == 4) {
        float f = 0;
        const auto word = static_cast<uint32_t>(u);
        std::memcpy(&f, &word, sizeof f);
        return FromFloat(static_cast<double>(f) * 32768.0);
    }
    if (layout.floats) {
        double f = 0;
        std::memcpy(&f, &u, sizeof f);
        return FromFloat(f * 32768.0);
    }
    int64_t v = 0;
    if (bytes == 1 && layout.unsignedBytes) {
        v = static_cast<int64_t>(u) - 128;
    } else {
        const int64_t sign = int64_t{1} << (layout.bits - 1);
        v = (static_cast<int64_t>(u) ^ sign) - sign;
    }
    if (layout.bits <= 16) {
        return static_cast<int16_t>(v * (int64_t{1} << (16 - layout.bits)));
    }
    const int64_t scale = int64_t{1} << (layout.bits - 16);
    const int64_t magnitude = ((v < 0 ? -v : v) + scale / 2) / scale;
    const int64_t rounded = v < 0 ? -magnitude : magnitude;
    return static_cast<int16_t>(rounded > 32767 ? 32767 : rounded);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in{data, size};
    const uint32_t mode = in.Byte() % 4;
    const uint32_t channel = in.Byte() % 4;

    Layout layout;
    SF_INFO raw{};
    std::vector<uint8_t> built;
    const void* bytes = nullptr;
    size_t length = 0;
    if (mode == 0) {
        bytes = in.Rest();
        length = in.RestSize();
    } else if (mode == 1) {
        raw = RawFormat(in, layout);
        bytes = in.Rest();
        length = in.RestSize();
    } else {
        built = mode == 2 ? Wav(in, layout) : Aiff(in, layout);
        bytes = built.data();
        length = built.size();
    }

    SoundInput input;
    std::string error;
    if (!input.OpenMemory(kName, bytes, length, mode == 1 ? &raw : nullptr, channel, error)) {
        // One line naming the input, or the option at fault.
        REQUIRE(!error.empty() && error.find('\n') == std::string::npos);
        REQUIRE(error.rfind(std::string(kName) + ": ", 0) == 0 ||
                (channel != 0 && error.rfind("--channel: ", 0) == 0));
        return 0;
    }
    REQUIRE(error.empty());
    const double declared = input.DeclaredSeconds();
    REQUIRE(declared < 0.0 || std::isfinite(declared));

    // The samples that can be checked one by one: linear PCM or floats at 48 kHz, mono or one
    // channel.
    const bool knowable = mode != 0 && layout.bits != 0 && layout.rate == 48000 &&
                          layout.channels >= 1 && layout.channels <= 256 &&
                          (layout.channels == 1 || channel != 0) && channel <= layout.channels;
    const size_t frameBytes = knowable ? layout.channels * layout.bits / 8 : 0;
    const size_t wholeFrames = knowable ? layout.dataBytes / frameBytes : 0;
    const uint32_t picked = channel == 0 ? 0 : channel - 1;

    ResetDetector();
    InitToolState();
    std::vector<int16_t> block;
    size_t total = 0;
    bool ended = false;
    while (total < kMaxSamples) {
        if (!input.Next(block)) {
            REQUIRE(block.empty());
            ended = true;
            break;
        }
        REQUIRE(!block.empty() && block.size() <= kMaxBlock);
        const double progress = input.Progress();
        REQUIRE(progress >= 0.0 && progress <= 1.0);
        for (const int16_t sample : block) {
            if (knowable) {
                // Never a sample that the file does not hold, and each one as it stands there.
                REQUIRE(total < wholeFrames);
                REQUIRE(sample == Expected(layout, total, picked));
            }
            ProcessSample(static_cast<uint32_t>(total), sample);
            toolState.result.newResult.store(0, kRelaxed);
            ++total;
        }
    }
    if (ended) {
        // The end stays the end.
        REQUIRE(!input.Next(block) && block.empty());
        if (knowable && layout.exact) {
            REQUIRE(total == wholeFrames);
        }
        if (input.Failure().empty()) {
            REQUIRE(input.EndedEarly().find('\n') == std::string::npos);
        }
    }
    REQUIRE(std::isfinite(input.SecondsRead()) && input.SecondsRead() >= 0.0);
    return 0;
}
