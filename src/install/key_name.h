// The key names a caller hands to the installation families: an App Paths
// file name, an uninstall entry, one level of an application key. Each is
// appended to a fixed list key's path or deleted relative to that list key.
#pragma once

#include <cstddef>

#include "kx/text.h"

namespace kx {

// A usable key name is present, fits a path buffer, and does not begin with a
// backslash. The registry folds repeated backslashes, so "\" appended to
// "...\Uninstall\" names the Uninstall list itself: a write would land in the
// list key and a delete would act on it. A backslash further in only makes a
// deeper key below the list, and in a double-byte code page the byte 0x5C
// there may be the second half of a character, so only the first is tested.
template <class C>
inline bool is_key_name(const C* name) noexcept {
  return fits(name, static_cast<std::size_t>(kPathCapacity), false) && name[0] != C('\\');
}

// The registry holds at most 255 characters in one key name. A longer
// component fails only when its own key is created, after a call's earlier
// stages have written theirs, so a composed path is checked whole first.
inline constexpr std::size_t kKeyNameLength = 255;

template <class C>
inline bool components_fit(const C* path) noexcept {
  std::size_t run = 0;
  for (; *path != 0; ++path) {
    run = *path == C('\\') ? 0 : run + 1;
    if (run > kKeyNameLength) return false;
  }
  return true;
}

}  // namespace kx
