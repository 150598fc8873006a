#pragma once

// Wave input, the multimedia timer and the millisecond clock, under their Windows names.
#ifdef _WIN32

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#else

#include "platform/portable/win_basics.h"

// Only what the program uses. Constants keep the types they have on Windows (plain int where
// Windows has a plain literal) so that code warning-free here is warning-free there too.

using MMRESULT = UINT;

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;
inline constexpr MMRESULT TIMERR_NOERROR = 0;
inline constexpr MMRESULT TIMERR_NOCANDO = 97;

// An opaque device handle; the portable layer never dereferences it.
struct PortableWaveIn;
using HWAVEIN = PortableWaveIn*;
using LPHWAVEIN = HWAVEIN*;

inline constexpr UINT WAVE_MAPPER = static_cast<UINT>(-1);
inline constexpr DWORD CALLBACK_NULL = 0x00000000;
inline constexpr int WAVE_FORMAT_PCM = 1;

// Laid out as on Windows: byte-packed, 18 bytes.
#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
using LPWAVEFORMATEX = WAVEFORMATEX*;
using LPCWAVEFORMATEX = const WAVEFORMATEX*;

struct WAVEHDR {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};
using LPWAVEHDR = WAVEHDR*;

inline constexpr int WHDR_DONE = 0x00000001;
inline constexpr int WHDR_PREPARED = 0x00000002;
inline constexpr int WHDR_INQUEUE = 0x00000010;

inline constexpr int TIME_MS = 0x0001;
inline constexpr int TIME_SAMPLES = 0x0002;
inline constexpr int TIME_BYTES = 0x0004;

struct MMTIME {
    UINT wType;
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
    } u;
};
using LPMMTIME = MMTIME*;

MMRESULT WINAPI waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, LPCWAVEFORMATEX pwfx,
                           DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT WINAPI waveInClose(HWAVEIN hwi);
MMRESULT WINAPI waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh);
MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh);
MMRESULT WINAPI waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh);
MMRESULT WINAPI waveInStart(HWAVEIN hwi);
MMRESULT WINAPI waveInStop(HWAVEIN hwi);
MMRESULT WINAPI waveInReset(HWAVEIN hwi);
MMRESULT WINAPI waveInGetPosition(HWAVEIN hwi, LPMMTIME pmmt, UINT cbmmt);

using TIMECALLBACK = void CALLBACK(UINT uTimerID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dw1,
                                   DWORD_PTR dw2);
using LPTIMECALLBACK = TIMECALLBACK*;

inline constexpr int TIME_PERIODIC = 0x0001;
inline constexpr int TIME_CALLBACK_FUNCTION = 0x0000;

// Returns the timer's identifier, 0 when it cannot start.
MMRESULT WINAPI timeSetEvent(UINT uDelay, UINT uResolution, LPTIMECALLBACK fptc, DWORD_PTR dwUser,
                             UINT fuEvent);
MMRESULT WINAPI timeKillEvent(UINT uTimerID);
DWORD WINAPI timeGetTime();
MMRESULT WINAPI timeBeginPeriod(UINT uPeriod);
MMRESULT WINAPI timeEndPeriod(UINT uPeriod);

#endif
