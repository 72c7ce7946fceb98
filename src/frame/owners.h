// Owners for what the families acquire from the system. Each releases its
// resource exactly once, on every path out of the call that acquired it.
#pragma once

#include <windows.h>
#include <imm.h>
#include <objbase.h>
#include <shtypes.h>

#include <cstddef>
#include <utility>

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

// COM for the duration of one call on the calling thread. CoInitialize fails
// with RPC_E_CHANGED_MODE on a thread that already uses the multithreaded
// model: COM is usable there all the same, but that thread's COM belongs to
// the caller, so no CoUninitialize may follow. Any other failure left nothing
// to undo either; only a success (S_OK or S_FALSE) is matched.
class ComInit {
 public:
  ComInit() noexcept : result_(::CoInitialize(nullptr)) {}
  ~ComInit() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComInit(const ComInit&) = delete;
  ComInit& operator=(const ComInit&) = delete;
  HRESULT result() const noexcept { return result_; }

 private:
  HRESULT result_;
};

// One reference to a COM interface, released once.
template <class I>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  // Out-parameter for CoCreateInstance/QueryInterface (void** form).
  void** put_void() noexcept {
    reset();
    return reinterpret_cast<void**>(&p_);
  }
  I** put() noexcept {
    reset();
    return &p_;
  }
  I* get() const noexcept { return p_; }
  I* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept {
    if (p_ != nullptr) {
      p_->Release();
      p_ = nullptr;
    }
  }

 private:
  I* p_ = nullptr;
};

// A kernel handle. Both null and INVALID_HANDLE_VALUE mean "none", since
// CreateFile reports failure with the latter and most other calls with null.
class Handle {
 public:
  Handle() noexcept = default;
  explicit Handle(HANDLE h) noexcept : h_(h) {}
  ~Handle() { reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE h = nullptr) noexcept {
    if (*this) ::CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

// A block of the process heap. release() hands it over to a caller that
// outlives the call (the sound memory block); otherwise it is freed here.
class HeapBlock {
 public:
  HeapBlock() noexcept = default;
  explicit HeapBlock(std::size_t bytes, DWORD flags = 0) noexcept
      : p_(::HeapAlloc(::GetProcessHeap(), flags, bytes)) {}
  ~HeapBlock() { reset(); }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;

  void* get() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void* release() noexcept { return std::exchange(p_, nullptr); }
  void reset() noexcept {
    if (p_ != nullptr) {
      ::HeapFree(::GetProcessHeap(), 0, p_);
      p_ = nullptr;
    }
  }

 private:
  void* p_ = nullptr;
};

// An icon handle the library has taken over or extracted; destroyed once.
class Icon {
 public:
  Icon() noexcept = default;
  explicit Icon(HICON icon) noexcept : icon_(icon) {}
  ~Icon() { reset(); }
  Icon(const Icon&) = delete;
  Icon& operator=(const Icon&) = delete;

  HICON get() const noexcept { return icon_; }
  explicit operator bool() const noexcept { return icon_ != nullptr; }
  void reset(HICON icon = nullptr) noexcept {
    if (icon_ != nullptr) ::DestroyIcon(icon_);
    icon_ = icon;
  }

 private:
  HICON icon_ = nullptr;
};

// A window's input-method context, released against the same window.
class ImeContext {
 public:
  explicit ImeContext(HWND window) noexcept : window_(window), context_(::ImmGetContext(window)) {}
  ~ImeContext() {
    if (context_ != nullptr) ::ImmReleaseContext(window_, context_);
  }
  ImeContext(const ImeContext&) = delete;
  ImeContext& operator=(const ImeContext&) = delete;

  HIMC get() const noexcept { return context_; }
  explicit operator bool() const noexcept { return context_ != nullptr; }
  // Releases now, for a caller that reports the release's own answer.
  BOOL release() noexcept {
    if (context_ == nullptr) return FALSE;
    return ::ImmReleaseContext(window_, std::exchange(context_, nullptr));
  }

 private:
  HWND window_;
  HIMC context_;
};

// A shell item-ID list, allocated by the shell with the COM task allocator.
class ItemIdList {
 public:
  ItemIdList() noexcept = default;
  explicit ItemIdList(LPITEMIDLIST list) noexcept : list_(list) {}
  ~ItemIdList() { reset(); }
  ItemIdList(const ItemIdList&) = delete;
  ItemIdList& operator=(const ItemIdList&) = delete;

  LPITEMIDLIST* put() noexcept {
    reset();
    return &list_;
  }
  LPITEMIDLIST get() const noexcept { return list_; }
  explicit operator bool() const noexcept { return list_ != nullptr; }
  void reset(LPITEMIDLIST list = nullptr) noexcept {
    if (list_ != nullptr) ::CoTaskMemFree(list_);
    list_ = list;
  }

 private:
  LPITEMIDLIST list_ = nullptr;
};

}  // namespace kx
