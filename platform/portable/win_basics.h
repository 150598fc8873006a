#pragma once
#include <cstdint>
using BYTE = uint8_t; using WORD = uint16_t; using DWORD = uint32_t; using UINT = unsigned int;
using BOOL = int; using LONG = int32_t; using LPSTR = char*; using LPCSTR = const char*;
using UINT_PTR = uintptr_t; using DWORD_PTR = uintptr_t; using LONG_PTR = intptr_t;
using HANDLE = void*;
#define WINAPI
#define CALLBACK
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
