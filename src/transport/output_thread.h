// The output thread: paces the cycle, requests samples, composes and writes, closes the port at the end.
#pragma once

#include "platform/win32.h"

constexpr DWORD kHalfStepMs = 50; // a step is two of these sleeps

DWORD WINAPI OutputThread(LPVOID unused);
