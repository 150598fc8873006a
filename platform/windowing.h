#pragma once

// Windows, messages, GDI drawing and text.
#ifdef _WIN32
#include <windows.h>
#else
#error "the portable windowing layer is not in this build yet"
#endif
