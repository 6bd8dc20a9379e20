#pragma once
// The one place the win32 backend includes <windows.h>: lean, without the min/max macros, and
// aimed at Windows 7 so that the psapi calls resolve to their kernel32 forms.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif

#include <windows.h>
