// Wave input over the host's sound source: one device at a time, polled (no callbacks), fixed
// at 48 kHz mono 16-bit PCM. The host pushes sound in; we write it into the queued buffers in
// the order they were given, so a sample's position always matches its place in the buffers.

#include <cassert>
#include <cstring>
#include <deque>
#include <mutex>

#include "platform/multimedia.h"
#include "platform/portable/host.h"
#include "platform/portable/mm_internal.h"

namespace {

struct Queued {
    WAVEHDR* header;
    DWORD samples; // recorded into it so far
};

struct WaveInDevice {
    // Serialises open and close, which call the host without holding `data`.
    std::mutex api;
    // Guards everything below; SoundArrived takes it on the host's recording thread.
    std::mutex data;
    bool open = false;
    bool started = false;
    uintptr_t generation = 0;
    DWORD position = 0;
    std::deque<Queued> queue;
};

WaveInDevice& Device()
{
    // Never destroyed: the host's recording thread may still look at it during exit.
    static WaveInDevice& device = *new WaveInDevice;
    return device;
}

HWAVEIN HandleOf(uintptr_t generation)
{
    // Handles are numbers, never pointers we follow, so a stale one cannot reach freed memory;
    // every open gets a new one.
    return reinterpret_cast<HWAVEIN>(generation << 4);
}

// Caller holds `data`.
bool Valid(const WaveInDevice& device, HWAVEIN handle)
{
    return device.open && handle != nullptr && handle == HandleOf(device.generation);
}

DWORD Flags(DWORD flags, int set, int clear)
{
    return (flags | static_cast<DWORD>(set)) & ~static_cast<DWORD>(clear);
}

void Finish(Queued& entry)
{
    entry.header->dwBytesRecorded = entry.samples * 2;
    entry.header->dwFlags = Flags(entry.header->dwFlags, WHDR_DONE, WHDR_INQUEUE);
}

// Caller holds `data`.
void ReturnAll(WaveInDevice& device)
{
    for (Queued& entry : device.queue) {
        Finish(entry);
    }
    device.queue.clear();
}

bool FormatSupported(const WAVEFORMATEX& f)
{
    return f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels == 1 && f.nSamplesPerSec == 48000 &&
           f.wBitsPerSample == 16 && f.nBlockAlign == 2 && f.nAvgBytesPerSec == 96000;
}

bool HeaderArgumentsOk(const WAVEHDR* header, UINT size)
{
    return header != nullptr && size >= sizeof(WAVEHDR);
}

} // namespace

MMRESULT WINAPI waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR,
                           DWORD_PTR, DWORD fdwOpen)
{
    host::LogCall("waveInOpen");
    if (phwi == nullptr || pwfx == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    *phwi = nullptr;
    if (fdwOpen != CALLBACK_NULL) {
        // Callbacks, events and format queries are not part of this layer.
        assert(!"waveInOpen: only CALLBACK_NULL is supported");
        return MMSYSERR_INVALFLAG;
    }
    if (uDeviceID != WAVE_MAPPER && uDeviceID != 0) {
        return MMSYSERR_BADDEVICEID;
    }
    if (!FormatSupported(*pwfx)) {
        return WAVERR_BADFORMAT;
    }
    WaveInDevice& device = Device();
    std::lock_guard api(device.api);
    {
        std::lock_guard lock(device.data);
        if (device.open) {
            return MMSYSERR_ALLOCATED;
        }
    }
    const DWORD start = host::SoundStartPosition();
    if (!host::SoundOpen()) {
        return MMSYSERR_NODRIVER;
    }
    std::lock_guard lock(device.data);
    device.open = true;
    device.started = false;
    device.generation++;
    device.position = start;
    device.queue.clear();
    *phwi = HandleOf(device.generation);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInClose(HWAVEIN hwi)
{
    host::LogCall("waveInClose");
    WaveInDevice& device = Device();
    std::lock_guard api(device.api);
    {
        std::lock_guard lock(device.data);
        if (!Valid(device, hwi)) {
            return MMSYSERR_INVALHANDLE;
        }
        if (!device.queue.empty()) {
            return WAVERR_STILLPLAYING;
        }
        device.open = false;
        device.started = false;
    }
    // Outside `data`: the host may wait for its recording thread, which takes `data`.
    host::SoundClose();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    host::LogCall("waveInPrepareHeader");
    WaveInDevice& device = Device();
    std::lock_guard lock(device.data);
    if (!Valid(device, hwi)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!HeaderArgumentsOk(pwh, cbwh) || pwh->lpData == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    pwh->dwFlags = Flags(pwh->dwFlags, WHDR_PREPARED, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    host::LogCall("waveInUnprepareHeader");
    WaveInDevice& device = Device();
    std::lock_guard lock(device.data);
    if (!Valid(device, hwi)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!HeaderArgumentsOk(pwh, cbwh)) {
        return MMSYSERR_INVALPARAM;
    }
    if ((pwh->dwFlags & static_cast<DWORD>(WHDR_INQUEUE)) != 0) {
        return WAVERR_STILLPLAYING;
    }
    pwh->dwFlags = Flags(pwh->dwFlags, 0, WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    host::LogCall("waveInAddBuffer");
    WaveInDevice& device = Device();
    std::lock_guard lock(device.data);
    if (!Valid(device, hwi)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!HeaderArgumentsOk(pwh, cbwh)) {
        return MMSYSERR_INVALPARAM;
    }
    if ((pwh->dwFlags & static_cast<DWORD>(WHDR_PREPARED)) == 0) {
        return WAVERR_UNPREPARED;
    }
    if ((pwh->dwFlags & static_cast<DWORD>(WHDR_INQUEUE)) != 0) {
        return WAVERR_STILLPLAYING;
    }
    // Whole samples only: a half sample would shift every later position.
    if (pwh->dwBufferLength < 2 || pwh->dwBufferLength % 2 != 0) {
        return MMSYSERR_INVALPARAM;
    }
    if (!host::SoundTakesBuffer()) {
        return MMSYSERR_NOMEM;
    }
    pwh->dwBytesRecorded = 0;
    pwh->dwFlags = Flags(pwh->dwFlags, WHDR_INQUEUE, WHDR_DONE);
    device.queue.push_back(Queued{pwh, 0});
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInStart(HWAVEIN hwi)
{
    host::LogCall("waveInStart");
    WaveInDevice& device = Device();
    std::lock_guard lock(device.data);
    if (!Valid(device, hwi)) {
        return MMSYSERR_INVALHANDLE;
    }
    device.started = true;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInStop(HWAVEIN hwi)
{
    host::LogCall("waveInStop");
    WaveInDevice& device = Device();
    std::lock_guard lock(device.data);
    if (!Valid(device, hwi)) {
        return MMSYSERR_INVALHANDLE;
    }
    device.started = false;
    // The buffer being recorded into comes back with what it holds; empty ones stay queued.
    if (!device.queue.empty() && device.queue.front().samples > 0) {
        Finish(device.queue.front());
        device.queue.pop_front();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInReset(HWAVEIN hwi)
{
    host::LogCall("waveInReset");
    const DWORD start = host::SoundStartPosition();
    WaveInDevice& device = Device();
    std::lock_guard lock(device.data);
    if (!Valid(device, hwi)) {
        return MMSYSERR_INVALHANDLE;
    }
    device.started = false;
    ReturnAll(device);
    device.position = start;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInGetPosition(HWAVEIN hwi, LPMMTIME pmmt, UINT cbmmt)
{
    host::LogCall("waveInGetPosition");
    WaveInDevice& device = Device();
    std::lock_guard lock(device.data);
    if (!Valid(device, hwi)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (pmmt == nullptr || cbmmt < sizeof(MMTIME)) {
        return MMSYSERR_INVALPARAM;
    }
    switch (pmmt->wType) {
    case TIME_BYTES:
        pmmt->u.cb = device.position * 2;
        break;
    case TIME_MS:
        pmmt->u.ms = device.position / 48;
        break;
    default:
        // As on Windows, a format the device does not keep is answered in one it does.
        pmmt->wType = TIME_SAMPLES;
        pmmt->u.sample = device.position;
        break;
    }
    return MMSYSERR_NOERROR;
}

void mm::SoundArrived(const int16_t* samples, size_t count)
{
    WaveInDevice& device = Device();
    std::lock_guard lock(device.data);
    if (!device.open || !device.started) {
        return;
    }
    // With no buffer queued the sound is dropped and the position stays where it is.
    while (count > 0 && !device.queue.empty()) {
        Queued& entry = device.queue.front();
        const DWORD room = entry.header->dwBufferLength / 2 - entry.samples;
        const DWORD take = count < room ? static_cast<DWORD>(count) : room;
        std::memcpy(entry.header->lpData + entry.samples * 2, samples, take * 2u);
        entry.samples += take;
        device.position += take;
        samples += take;
        count -= take;
        if (entry.samples * 2 == entry.header->dwBufferLength) {
            Finish(entry);
            device.queue.pop_front();
        }
    }
}

void mm::CloseWaveInForReset()
{
    WaveInDevice& device = Device();
    std::lock_guard api(device.api);
    {
        std::lock_guard lock(device.data);
        if (!device.open) {
            return;
        }
        // The headers may be long gone (a test that failed half-way): forget them untouched.
        device.queue.clear();
        device.open = false;
        device.started = false;
    }
    host::SoundClose();
}
