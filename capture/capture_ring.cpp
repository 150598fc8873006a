#include "capture/capture_ring.h"

#include <cstdlib>
#include <cstring>

CaptureRing captureRing;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr UINT kHeaderSize = sizeof(WAVEHDR);

} // namespace

CaptureOpenResult OpenCapture()
{
    CaptureRing& r = captureRing;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 48000;
    format.nAvgBytesPerSec = 96000;
    format.nBlockAlign = 2;
    format.wBitsPerSample = 16;
    format.cbSize = 0;

    r.device = nullptr;
    const MMRESULT opened = waveInOpen(&r.device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
    if (opened != MMSYSERR_NOERROR || r.device == nullptr) {
        r.device = nullptr;
        return kCaptureNoDevice;
    }

    r.block = static_cast<int16_t*>(std::malloc(kRingSamples * sizeof(int16_t)));
    if (r.block == nullptr) {
        waveInClose(r.device);
        r.device = nullptr;
        return kCaptureNoMemory;
    }
    std::memset(r.block, 0, kRingSamples * sizeof(int16_t));

    for (uint32_t k = 0; k < kBufferCount; ++k) {
        WAVEHDR& h = r.headers[k];
        h = WAVEHDR{};
        h.lpData = reinterpret_cast<LPSTR>(r.block + k * kBufferSamples);
        h.dwBufferLength = kBufferSamples * sizeof(int16_t);
        waveInPrepareHeader(r.device, &h, kHeaderSize);
    }
    waveInReset(r.device);
    return kCaptureOpened;
}

void StartCapture()
{
    waveInStart(captureRing.device);
}

void NoteDevicePosition(uint32_t reported)
{
    CaptureRing& r = captureRing;
    uint32_t lost = r.lostSamples.load(kRelaxed);
    const uint32_t position = RecordedPosition(reported, r.queuedTo.load(kRelaxed), lost);
    r.lostSamples.store(lost, kRelaxed);
    r.devicePosition.store(position, kRelaxed);
}

bool TopUp()
{
    CaptureRing& r = captureRing;
    const uint32_t queuedTo = r.queuedTo.load(kRelaxed);
    if (!TopUpDue(queuedTo, r.devicePosition.load(kRelaxed))) {
        return true;
    }
    WAVEHDR& h = r.headers[(queuedTo / kBufferSamples) % kBufferCount];
    h.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
    if (waveInAddBuffer(r.device, &h, kHeaderSize) != MMSYSERR_NOERROR) {
        // Offered again at the next tick.
        return false;
    }
    r.queuedTo.store(queuedTo + kBufferSamples, kRelaxed);
    return true;
}

int32_t SampleAt(uint32_t position)
{
    return captureRing.block[position % kRingSamples];
}

void CloseCapture()
{
    CaptureRing& r = captureRing;
    if (r.device == nullptr) {
        return;
    }
    waveInStop(r.device);
    waveInReset(r.device);
    for (WAVEHDR& h : r.headers) {
        waveInUnprepareHeader(r.device, &h, kHeaderSize);
    }
    std::free(r.block);
    r.block = nullptr;
    waveInClose(r.device);
    r.device = nullptr;
}
