#pragma once

#include <samplerate.h>
#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

// Sound file bytes held in memory, read through libsndfile's virtual I/O.
struct MemoryFile {
    const unsigned char* bytes = nullptr;
    sf_count_t size = 0;
    sf_count_t offset = 0;
};

// Streams a sound file as 48 kHz mono 16-bit samples in blocks, in constant memory.
// 48 kHz 16-bit PCM (mono, or one picked channel) is passed through untouched; anything else
// is read as doubles, mixed or picked, converted to 48 kHz and rounded with clipping.
class SoundInput {
  public:
    SoundInput() = default;
    SoundInput(const SoundInput&) = delete;
    SoundInput& operator=(const SoundInput&) = delete;
    ~SoundInput();

    // `channel` 0 mixes; otherwise the 1-based channel. On failure `error` holds one line
    // naming the input (or the option) and what is wrong.
    bool Open(const std::string& path, uint32_t channel, std::string& error);
    // The same for `size` bytes in memory, which must outlive this input; `name` stands for
    // them in messages. With `raw`, the bytes are headerless samples of the format, rate and
    // channels it gives.
    bool OpenMemory(const std::string& name, const void* bytes, size_t size, const SF_INFO* raw,
                    uint32_t channel, std::string& error);

    // Replaces `out` with the next samples; false once the input is exhausted (or unreadable).
    bool Next(std::vector<int16_t>& out);

    // Seconds of the file's own length, or a negative value when the header does not say.
    double DeclaredSeconds() const;
    // Share of the declared length read so far, 0 to 1.
    double Progress() const;
    // Seconds of the file read so far.
    double SecondsRead() const;

    // After the end: why the file ended early, or empty when it was read to its end.
    std::string EndedEarly() const;
    // After the end: a failure that prevents analysis altogether (the resampler failing).
    const std::string& Failure() const
    {
        return failure_;
    }

  private:
    // Checks what libsndfile opened (or why it did not) and sets up the conversion.
    bool Prepare(const std::string& name, uint32_t channel, std::string& error);
    // Reads the next block of frames and leaves it in mono_, mixed or picked; 0 at the end.
    size_t ReadMono();
    void Finish();

    int fd_ = -1;
    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
    MemoryFile memory_;
    SRC_STATE* resampler_ = nullptr;
    double ratio_ = 1.0;
    uint32_t channel_ = 0;
    bool passThrough_ = false;
    bool headerOverstates_ = false;
    bool inputDone_ = false;
    bool finished_ = false;
    int64_t framesRead_ = 0;
    std::string readError_;
    std::string failure_;

    std::vector<int16_t> shorts_;
    std::vector<double> frames_;
    size_t blockFrames_ = 0;
    // Mono input for the resampler and how much of it it has taken.
    std::vector<float> pending_;
    size_t pendingCount_ = 0;
    size_t pendingUsed_ = 0;
    std::vector<float> resampled_;
    std::vector<double> mono_;
};

// Nearest 16-bit sample to `fullScale` (a value where 32768 is full scale), clipped; NaN is 0.
int16_t ToSample16(double fullScale);
