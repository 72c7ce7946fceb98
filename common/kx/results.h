// The results the families hand back, named once. Each family's kind of
// result is fixed by its contract; these are the values the library itself
// chooses (a refusal, a failure it detects) rather than passes on.
#pragma once

#include <windows.h>

namespace kx {

// Registry families: a required string is missing, empty or would not fit.
// Callers cannot tell it from the platform's own code 1.
inline constexpr LSTATUS kRefused = 1;

// File-type register and remove: any failure or refusal is reported as 1.
inline constexpr int kFileTypeFailed = 1;

// Success flags.
inline constexpr int kDone = 1;
inline constexpr int kNotDone = 0;

// Counts that cannot be read.
inline constexpr int kNoCount = -1;

// COM families: a call the library refuses before any COM work, for example
// a narrow path that does not convert into a path buffer.
inline constexpr HRESULT kComRefused = E_INVALIDARG;

}  // namespace kx
