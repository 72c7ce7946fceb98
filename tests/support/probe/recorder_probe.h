// Exports of the recorder's probe module (see recorder_probe.c).
#pragma once

#include <windows.h>

extern "C" {
HMODULE WINAPI probe_module(const wchar_t* name);
FARPROC WINAPI probe_lookup(HMODULE module, const char* name);
WORD WINAPI probe_architecture(void);
int WINAPI probe_ordinal(void);
}
