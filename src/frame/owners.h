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

// One system value released exactly once: R names its type, what "none"
// is, whether a value is held, and how it is released.
template <class R>
class Owned {
 public:
  using Value = typename R::Value;
  Owned() noexcept = default;
  explicit Owned(Value v) noexcept : v_(v) {}
  ~Owned() { reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  // Out-parameter for the call that acquires; drops any value held before.
  Value* put() noexcept {
    reset();
    return &v_;
  }
  Value get() const noexcept { return v_; }
  explicit operator bool() const noexcept { return R::held(v_); }
  // Hands the value over to a caller that outlives the call.
  Value release() noexcept { return std::exchange(v_, R::none()); }
  void reset(Value v = R::none()) noexcept {
    if (R::held(v_)) R::free(v_);
    v_ = v;
  }

 private:
  Value v_ = R::none();
};

// An open registry key. Predefined root handles are never stored here.
struct RegKeyRelease {
  using Value = HKEY;
  static HKEY none() noexcept { return nullptr; }
  static bool held(HKEY k) noexcept { return k != nullptr; }
  static void free(HKEY k) noexcept { ::RegCloseKey(k); }
};
using RegKey = Owned<RegKeyRelease>;

// A kernel handle. Both null and INVALID_HANDLE_VALUE mean "none", since
// CreateFile reports failure with the latter and most other calls with null.
struct HandleRelease {
  using Value = HANDLE;
  static HANDLE none() noexcept { return nullptr; }
  static bool held(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void free(HANDLE h) noexcept { ::CloseHandle(h); }
};
using Handle = Owned<HandleRelease>;

// An icon handle the library has taken over or extracted; destroyed once.
struct IconRelease {
  using Value = HICON;
  static HICON none() noexcept { return nullptr; }
  static bool held(HICON i) noexcept { return i != nullptr; }
  static void free(HICON i) noexcept { ::DestroyIcon(i); }
};
using Icon = Owned<IconRelease>;

// A shell item-ID list, allocated by the shell with the COM task allocator.
struct ItemIdListRelease {
  using Value = LPITEMIDLIST;
  static LPITEMIDLIST none() noexcept { return nullptr; }
  static bool held(LPITEMIDLIST l) noexcept { return l != nullptr; }
  static void free(LPITEMIDLIST l) noexcept { ::CoTaskMemFree(l); }
};
using ItemIdList = Owned<ItemIdListRelease>;


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


}  // namespace kx
