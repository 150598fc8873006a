#pragma once

// Wave input, the multimedia timer and the millisecond clock.
#ifdef _WIN32
#include <windows.h>
#include <mmsystem.h>
#else
#error "the portable multimedia layer is not in this build yet"
#endif
