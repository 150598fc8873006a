#pragma once

#include <atomic>
#include <cstdint>

#include "capture/capture_rules.h"
#include "platform/multimedia.h"

// The input device and the ring of four buffers it records into. The positions are written by
// the capture tick on the timer thread only; start-up sets them before the tick starts and
// shut-down reads nothing of them, but tests may watch them at any time.
struct CaptureRing {
    HWAVEIN device;
    int16_t* block;
    WAVEHDR headers[kBufferCount];
    std::atomic<uint32_t> queuedTo;
    std::atomic<uint32_t> devicePosition;
    std::atomic<uint32_t> analysedTo;
    // Samples the device counted while it had no buffer (see RecordedPosition).
    std::atomic<uint32_t> lostSamples;
};

extern CaptureRing captureRing;

enum CaptureOpenResult {
    kCaptureOpened,
    kCaptureNoDevice,
    kCaptureNoMemory,
};

// Opens the default input device for 48 kHz mono 16-bit, obtains and clears the block and
// prepares the four headers. On failure nothing stays open.
CaptureOpenResult OpenCapture();
void StartCapture();
// Stores the device's reported sample count as devicePosition.
void NoteDevicePosition(uint32_t reported);
// Hands at most one buffer back to the device; false when the device refused it.
bool TopUp();
int32_t SampleAt(uint32_t position);
// Stops and closes the device and releases the block; does nothing when nothing is open.
void CloseCapture();
