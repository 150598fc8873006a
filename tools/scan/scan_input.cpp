#include "tools/scan/scan_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

constexpr int kRate = 48000;
// Interleaved values per read, whatever the channel count: keeps memory constant.
constexpr size_t kBlockValues = 65536;

std::string Trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '.' || text.back() == ' ' || text.back() == '\n')) {
        text.pop_back();
    }
    return text;
}

// libsndfile clamps a data chunk that claims more than the file holds and notes it in its log
// as "data : 192000 (should be 99956)"; that note is the only sign of a truncated WAV or AIFF.
bool HeaderOverstatesLength(SNDFILE* file)
{
    char log[16384];
    log[0] = '\0';
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    std::string_view rest = log;
    while (!rest.empty()) {
        const size_t eol = rest.find('\n');
        std::string_view line = rest.substr(0, eol);
        rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);

        const size_t colon = line.find(':');
        const size_t should = line.find("(should be ");
        if (colon == std::string_view::npos || should == std::string_view::npos || should < colon) {
            continue;
        }
        std::string_view label = line.substr(0, colon);
        while (!label.empty() && label.front() == ' ') {
            label.remove_prefix(1);
        }
        while (!label.empty() && label.back() == ' ') {
            label.remove_suffix(1);
        }
        const bool dataChunk = label == "data" || label == "SSND" || label == "Data Size";
        const bool container =
            label == "RIFF" || label == "riff" || label == "FORM" || label == "RF64";
        if (!dataChunk && !container) {
            continue;
        }
        const std::string declaredText(line.substr(colon + 1, should - colon - 1));
        const std::string actualText(line.substr(should + 11));
        const unsigned long long declared = std::strtoull(declaredText.c_str(), nullptr, 10);
        const unsigned long long actual = std::strtoull(actualText.c_str(), nullptr, 10);
        // A container one byte long is a missing pad byte, not missing sound.
        if ((dataChunk && declared > actual) || (container && declared > actual + 1)) {
            return true;
        }
    }
    return false;
}

sf_count_t MemoryLength(void* user)
{
    return static_cast<MemoryFile*>(user)->size;
}

// Seeking past the end is allowed, as on a file; reads there find nothing.
sf_count_t MemorySeek(sf_count_t offset, int whence, void* user)
{
    MemoryFile& m = *static_cast<MemoryFile*>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR) {
        base = m.offset;
    } else if (whence == SEEK_END) {
        base = m.size;
    } else if (whence != SEEK_SET) {
        return -1;
    }
    if ((offset < 0 && base + offset < 0) || (offset > 0 && offset > SF_COUNT_MAX - base)) {
        return -1;
    }
    m.offset = base + offset;
    return m.offset;
}

sf_count_t MemoryRead(void* to, sf_count_t count, void* user)
{
    MemoryFile& m = *static_cast<MemoryFile*>(user);
    if (count <= 0 || m.offset >= m.size) {
        return 0;
    }
    const sf_count_t got = std::min(count, m.size - m.offset);
    std::memcpy(to, m.bytes + m.offset, static_cast<size_t>(got));
    m.offset += got;
    return got;
}

sf_count_t MemoryWrite(const void*, sf_count_t, void*)
{
    return 0;
}

sf_count_t MemoryTell(void* user)
{
    return static_cast<MemoryFile*>(user)->offset;
}

} // namespace

int16_t ToSample16(double fullScale)
{
    if (std::isnan(fullScale)) {
        return 0;
    }
    if (fullScale >= 32767.0) {
        return 32767;
    }
    if (fullScale <= -32768.0) {
        return -32768;
    }
    return static_cast<int16_t>(std::lround(fullScale));
}

SoundInput::~SoundInput()
{
    if (resampler_ != nullptr) {
        src_delete(resampler_);
    }
    if (file_ != nullptr) {
        sf_close(file_);
    }
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool SoundInput::Open(const std::string& path, uint32_t channel, std::string& error)
{
    const std::string name = path + ": ";
    // Non-blocking only for the open itself, so that a FIFO without a writer cannot hang us.
    fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error = name + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (fstat(fd_, &st) != 0) {
        error = name + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = name + "is a directory";
        return false;
    }
    if (S_ISREG(st.st_mode) && st.st_size == 0) {
        error = name + "is empty";
        return false;
    }
    const int flags = fcntl(fd_, F_GETFL);
    if (flags < 0 || fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = name + std::strerror(errno);
        return false;
    }

    file_ = sf_open_fd(fd_, SFM_READ, &info_, SF_FALSE);
    return Prepare(path, channel, error);
}

bool SoundInput::OpenMemory(const std::string& name, const void* bytes, size_t size,
                            const SF_INFO* raw, uint32_t channel, std::string& error)
{
    if (size == 0) {
        error = name + ": is empty";
        return false;
    }
    memory_.bytes = static_cast<const unsigned char*>(bytes);
    memory_.size = static_cast<sf_count_t>(size);
    memory_.offset = 0;
    if (raw != nullptr) {
        info_ = *raw;
    }
    SF_VIRTUAL_IO io{};
    io.get_filelen = MemoryLength;
    io.seek = MemorySeek;
    io.read = MemoryRead;
    io.write = MemoryWrite;
    io.tell = MemoryTell;
    file_ = sf_open_virtual(&io, SFM_READ, &info_, &memory_);
    return Prepare(name, channel, error);
}

bool SoundInput::Prepare(const std::string& path, uint32_t channel, std::string& error)
{
    const std::string name = path + ": ";
    if (file_ == nullptr) {
        const int code = sf_error(nullptr);
        const std::string why = Trimmed(sf_strerror(nullptr));
        if (code == SF_ERR_UNRECOGNISED_FORMAT) {
            error = name + "not a sound file in a format that can be read (" + why + ")";
        } else if (code == SF_ERR_MALFORMED_FILE) {
            error = name + "corrupt sound file (" + why + ")";
        } else if (code == SF_ERR_UNSUPPORTED_ENCODING) {
            error = name + "unsupported sound encoding (" + why + ")";
        } else {
            error = name + "cannot be read as sound (" + why + ")";
        }
        return false;
    }
    if (info_.channels < 1 || info_.samplerate < 1) {
        error = name + "corrupt sound file (no channels or no sample rate)";
        return false;
    }
    const auto channels = static_cast<uint32_t>(info_.channels);
    if (channel > channels) {
        error = "--channel: " + std::to_string(channel) + " is out of range ('" + path + "' has " +
                std::to_string(channels) + (channels == 1 ? " channel)" : " channels)");
        return false;
    }
    headerOverstates_ = HeaderOverstatesLength(file_);
    if (info_.frames == 0) {
        error = name + "contains no samples" +
                (headerOverstates_ ? " (the header declares more sound than the file holds)" : "");
        return false;
    }
    channel_ = channel;

    blockFrames_ = kBlockValues / channels;
    if (blockFrames_ == 0) {
        blockFrames_ = 1;
    }
    const bool pcm16 = (info_.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    passThrough_ = info_.samplerate == kRate && pcm16 && (channels == 1 || channel != 0);
    if (passThrough_) {
        shorts_.resize(blockFrames_ * channels);
        return true;
    }
    frames_.resize(blockFrames_ * channels);
    mono_.resize(blockFrames_);
    if (info_.samplerate != kRate) {
        ratio_ = static_cast<double>(kRate) / static_cast<double>(info_.samplerate);
        if (src_is_valid_ratio(ratio_) == 0) {
            error = name + "sample rate " + std::to_string(info_.samplerate) +
                    " Hz cannot be converted to 48000 Hz";
            return false;
        }
        int code = 0;
        resampler_ = src_new(SRC_SINC_BEST_QUALITY, 1, &code);
        if (resampler_ == nullptr) {
            error = name + "cannot convert the sample rate (" + src_strerror(code) + ")";
            return false;
        }
        pending_.resize(blockFrames_);
        resampled_.resize(kBlockValues);
    }
    return true;
}

void SoundInput::Finish()
{
    finished_ = true;
    if (sf_error(file_) != SF_ERR_NO_ERROR) {
        readError_ = Trimmed(sf_strerror(file_));
    }
}

size_t SoundInput::ReadMono()
{
    const sf_count_t got =
        sf_readf_double(file_, frames_.data(), static_cast<sf_count_t>(blockFrames_));
    if (got <= 0) {
        return 0;
    }
    framesRead_ += got;
    const auto count = static_cast<size_t>(got);
    const auto channels = static_cast<size_t>(info_.channels);
    if (channels == 1) {
        std::copy(frames_.begin(), frames_.begin() + static_cast<std::ptrdiff_t>(count),
                  mono_.begin());
    } else if (channel_ != 0) {
        for (size_t f = 0; f < count; ++f) {
            mono_[f] = frames_[f * channels + channel_ - 1];
        }
    } else {
        for (size_t f = 0; f < count; ++f) {
            double sum = 0.0;
            for (size_t c = 0; c < channels; ++c) {
                sum += frames_[f * channels + c];
            }
            mono_[f] = sum / static_cast<double>(channels);
        }
    }
    return count;
}

bool SoundInput::Next(std::vector<int16_t>& out)
{
    out.clear();
    if (finished_) {
        return false;
    }

    if (passThrough_) {
        const sf_count_t got =
            sf_readf_short(file_, shorts_.data(), static_cast<sf_count_t>(blockFrames_));
        if (got <= 0) {
            Finish();
            return false;
        }
        framesRead_ += got;
        const auto count = static_cast<size_t>(got);
        const auto channels = static_cast<size_t>(info_.channels);
        if (channels == 1) {
            out.assign(shorts_.begin(), shorts_.begin() + static_cast<std::ptrdiff_t>(count));
        } else {
            out.resize(count);
            for (size_t f = 0; f < count; ++f) {
                out[f] = shorts_[f * channels + channel_ - 1];
            }
        }
        return true;
    }

    if (resampler_ == nullptr) {
        const size_t count = ReadMono();
        if (count == 0) {
            Finish();
            return false;
        }
        out.resize(count);
        for (size_t f = 0; f < count; ++f) {
            out[f] = ToSample16(mono_[f] * 32768.0);
        }
        return true;
    }

    while (out.empty()) {
        if (pendingUsed_ == pendingCount_ && !inputDone_) {
            pendingCount_ = ReadMono();
            pendingUsed_ = 0;
            if (pendingCount_ == 0) {
                inputDone_ = true;
            }
            // The filter must only ever see finite values, or one bad sample poisons its
            // neighbours; a double beyond float's range would become an infinity.
            for (size_t f = 0; f < pendingCount_; ++f) {
                double v = mono_[f];
                if (std::isnan(v)) {
                    v = 0.0;
                } else if (std::fabs(v) > static_cast<double>(FLT_MAX)) {
                    v = v > 0 ? 1.0 : -1.0;
                }
                pending_[f] = static_cast<float>(v);
            }
        }
        SRC_DATA data{};
        data.data_in = pending_.data() + pendingUsed_;
        data.input_frames = static_cast<long>(pendingCount_ - pendingUsed_);
        data.data_out = resampled_.data();
        data.output_frames = static_cast<long>(resampled_.size());
        data.end_of_input = inputDone_ ? 1 : 0;
        data.src_ratio = ratio_;
        if (const int code = src_process(resampler_, &data); code != 0) {
            failure_ = src_strerror(code);
            Finish();
            return false;
        }
        pendingUsed_ += static_cast<size_t>(data.input_frames_used);
        const auto made = static_cast<size_t>(data.output_frames_gen);
        for (size_t f = 0; f < made; ++f) {
            out.push_back(ToSample16(static_cast<double>(resampled_[f]) * 32768.0));
        }
        if (inputDone_ && made == 0) {
            Finish();
            break;
        }
    }
    return !out.empty();
}

double SoundInput::DeclaredSeconds() const
{
    if (info_.frames == SF_COUNT_MAX || info_.frames < 0) {
        return -1.0;
    }
    return static_cast<double>(info_.frames) / static_cast<double>(info_.samplerate);
}

double SoundInput::Progress() const
{
    if (info_.frames <= 0 || info_.frames == SF_COUNT_MAX) {
        return 0.0;
    }
    const double share = static_cast<double>(framesRead_) / static_cast<double>(info_.frames);
    return share > 1.0 ? 1.0 : share;
}

double SoundInput::SecondsRead() const
{
    return static_cast<double>(framesRead_) / static_cast<double>(info_.samplerate);
}

std::string SoundInput::EndedEarly() const
{
    if (!readError_.empty()) {
        return readError_;
    }
    if (info_.frames != SF_COUNT_MAX && framesRead_ < info_.frames) {
        return "the header declares " + std::to_string(info_.frames) + " sample frames, " +
               std::to_string(framesRead_) + " could be read";
    }
    if (headerOverstates_) {
        return "the header declares more sound than the file holds";
    }
    return {};
}
