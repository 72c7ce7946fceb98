// Owners for what the families acquire from the system. Each releases its
// resource exactly once, on every path out of the call that acquired it.
#pragma once

#include <windows.h>

namespace kx {

// An open registry key. Predefined root handles are never stored here.
class RegKey {
 public:
  RegKey() noexcept = default;
  ~RegKey() { reset(); }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  // Out-parameter for RegCreateKeyEx/RegOpenKeyEx; drops any key held before.
  HKEY* put() noexcept {
    reset();
    return &key_;
  }
  HKEY get() const noexcept { return key_; }
  explicit operator bool() const noexcept { return key_ != nullptr; }
  void reset() noexcept {
    if (key_ != nullptr) {
      ::RegCloseKey(key_);
      key_ = nullptr;
    }
  }

 private:
  HKEY key_ = nullptr;
};

}  // namespace kx
