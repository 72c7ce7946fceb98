// Shared DLL reference counts: one REG_DWORD value per shared file under the
// machine's SharedDLLs key, named by the caller (by convention the file's full
// path). Installers raise a count for every product that installs the file and
// lower it on uninstall; the file may go once its count is gone.
#include <windows.h>

#include <cstddef>

#include "KX_Pellam.h"
#include "install/registry.h"
#include "kx/results.h"

namespace {

using kx::kNoCount;
using kx::kRefused;

// A lock's holder only waits on it and releases it.
constexpr DWORD kLockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

struct SharedDllsW : kx::RegistryW {
  static HANDLE create_lock(const wchar_t* name) noexcept { return ::CreateMutexW(nullptr, FALSE, name); }
  static HANDLE open_lock(const wchar_t* name) noexcept { return ::OpenMutexW(kLockAccess, FALSE, name); }
};
struct SharedDllsA : kx::RegistryA {
  static HANDLE create_lock(const char* name) noexcept { return ::CreateMutexA(nullptr, FALSE, name); }
  static HANDLE open_lock(const char* name) noexcept { return ::OpenMutexA(kLockAccess, FALSE, name); }
};

// A count is read, changed and written back in separate registry calls, so
// two installers counting the same file at once could both read n and both
// write n + 1, and a count that is too low gets a file still in use deleted
// by the next uninstall. Every change of a count therefore holds one named
// mutex, shared by all processes of the machine (or, failing that, of the
// session), for the length of the call.
// The stored values stay exactly as they are for installers that do not
// take it. An owner that died leaves the mutex abandoned, which still
// grants it; a minute's wait without it gives ERROR_TIMEOUT.
class CountLock {
 public:
  template <class T>
  static LSTATUS take(CountLock& lock) noexcept {
    using C = typename T::Char;
    // One object for the whole machine whoever made it: CreateMutex asks for
    // full access to an existing mutex, which a caller of another account
    // may be denied, so the global object is then opened for waiting and
    // releasing alone. Only when there is no global object to create or
    // open does the session's own stand in.
    const C* const global = KX_TEXT(C, "Global\\KX_Pellam.SharedDLLs");
    lock.mutex_.reset(T::create_lock(global));
    if (!lock.mutex_) lock.mutex_.reset(T::open_lock(global));
    if (!lock.mutex_) lock.mutex_.reset(T::create_lock(KX_TEXT(C, "Local\\KX_Pellam.SharedDLLs")));
    if (!lock.mutex_) return static_cast<LSTATUS>(::GetLastError());
    const DWORD waited = ::WaitForSingleObject(lock.mutex_.get(), 60000);
    if (waited == WAIT_TIMEOUT) return ERROR_TIMEOUT;
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return static_cast<LSTATUS>(::GetLastError());
    lock.held_ = true;
    return ERROR_SUCCESS;
  }
  CountLock() noexcept = default;
  ~CountLock() {
    if (held_) ::ReleaseMutex(mutex_.get());
  }
  CountLock(const CountLock&) = delete;
  CountLock& operator=(const CountLock&) = delete;

 private:
  kx::Handle mutex_;
  bool held_ = false;
};

template <class C>
const C* shared_dlls_key() noexcept {
  return KX_TEXT(C, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs");
}

// A value name is never composed into a path buffer, so any name the registry
// can hold is a count, also the long paths of long-path-aware installers:
// refusing one would read as "no count" and get a file still in use deleted.
// Wine 8, measured in both widths: names of 16,383 characters are written,
// read and deleted; at 16,384 the write fails with 87 and the read and the
// delete with 2; a narrow name of 65,536 characters is written as the key's
// default value. So a longer name is refused before any registry call, and
// the scan stops at the limit, never reading a hostile name to its end.
constexpr std::size_t kValueNameLimit = 16383;  // characters, terminator not counted

template <class C>
bool name_fits(const C* name) noexcept {
  return kx::fits(name, kValueNameLimit + 1);
}

template <class C>
bool required_name_ok(const C* name) noexcept {
  return name_fits(name) && name[0] != 0;
}

// The count is read into a zeroed number with room for exactly four bytes: a
// stored value shorter than that leaves the bytes it does not fill at zero,
// and a longer one fails with ERROR_MORE_DATA. The reported type is not
// looked at, so any four-byte value counts.
template <class T>
LSTATUS read_count(HKEY key, const typename T::Char* name, DWORD& count) noexcept {
  count = 0;
  DWORD type = REG_DWORD;
  DWORD bytes = sizeof count;
  return T::query(key, name, &type, &count, &bytes);
}

// The count lives in 32 bits and a stored 0 already means nobody holds the
// file, so neither end may wrap: a count-up of 0xFFFFFFFF keeps 0xFFFFFFFF
// (the file stays pinned rather than dropping to 0 and being deleted while in
// use), and a count-down of 0 removes the value exactly like a count-down of
// 1, instead of turning it into 0xFFFFFFFF and pinning the file for good.
template <class T>
LSTATUS count_up(const typename T::Char* name) noexcept {
  if (!required_name_ok(name)) return kRefused;
  CountLock lock;
  LSTATUS status = CountLock::take<T>(lock);
  if (status != ERROR_SUCCESS) return status;
  kx::RegKey key;
  status = T::create(HKEY_LOCAL_MACHINE, shared_dlls_key<typename T::Char>(), key);
  if (status != ERROR_SUCCESS) return status;
  DWORD count = 0;
  status = read_count<T>(key.get(), name, count);
  DWORD next = 1;
  if (status == ERROR_SUCCESS) {
    next = count == MAXDWORD ? MAXDWORD : count + 1;
  } else if (status != ERROR_FILE_NOT_FOUND && status != ERROR_MORE_DATA) {
    // A count that exists but cannot be read now must not be reset to 1:
    // the other products' references would be lost and the file deleted
    // while they still use it.
    return status;
  }
  return T::set_dword(key.get(), name, next);
}

template <class T>
LSTATUS count_down(const typename T::Char* name) noexcept {
  if (!required_name_ok(name)) return kRefused;
  CountLock lock;
  LSTATUS status = CountLock::take<T>(lock);
  if (status != ERROR_SUCCESS) return status;
  kx::RegKey key;
  status = T::open(HKEY_LOCAL_MACHINE, shared_dlls_key<typename T::Char>(), key);
  if (status != ERROR_SUCCESS) return status;
  DWORD count = 0;
  status = read_count<T>(key.get(), name, count);
  if (status != ERROR_SUCCESS) return status;
  if (count <= 1) return T::delete_value(key.get(), name);
  // A failed write leaves the old count standing; the caller must hear of it.
  return T::set_dword(key.get(), name, count - 1);
}

template <class T>
int get_count(const typename T::Char* name) noexcept {
  // An empty name is let through on purpose: it reads the key's default
  // value. A null one has nothing to name and is answered without a call.
  if (!name_fits(name)) return kNoCount;
  kx::RegKey key;
  if (T::open(HKEY_LOCAL_MACHINE, shared_dlls_key<typename T::Char>(), key) != ERROR_SUCCESS) return kNoCount;
  DWORD count = 0;
  if (read_count<T>(key.get(), name, count) != ERROR_SUCCESS) return kNoCount;
  return static_cast<int>(count);
}

template <class T>
LSTATUS delete_count(const typename T::Char* name) noexcept {
  if (!required_name_ok(name)) return kRefused;
  // Taken too, so that a count-up in flight cannot bring a deleted count back.
  CountLock lock;
  LSTATUS status = CountLock::take<T>(lock);
  if (status != ERROR_SUCCESS) return status;
  kx::RegKey key;
  status = T::open(HKEY_LOCAL_MACHINE, shared_dlls_key<typename T::Char>(), key);
  if (status != ERROR_SUCCESS) return status;
  return T::delete_value(key.get(), name);
}

}  // namespace

extern "C" {

int WINAPI KX_InstCountUpSharedDLLsW(LPCWSTR fileName) { return count_up<SharedDllsW>(fileName); }
int WINAPI KX_InstCountUpSharedDLLsA(LPCSTR fileName) { return count_up<SharedDllsA>(fileName); }
int WINAPI KX_InstCountDownSharedDLLsW(LPCWSTR fileName) { return count_down<SharedDllsW>(fileName); }
int WINAPI KX_InstCountDownSharedDLLsA(LPCSTR fileName) { return count_down<SharedDllsA>(fileName); }
int WINAPI KX_InstGetCountSharedDLLsW(LPCWSTR fileName) { return get_count<SharedDllsW>(fileName); }
int WINAPI KX_InstGetCountSharedDLLsA(LPCSTR fileName) { return get_count<SharedDllsA>(fileName); }
int WINAPI KX_InstDeleteSharedDLLsW(LPCWSTR fileName) { return delete_count<SharedDllsW>(fileName); }
int WINAPI KX_InstDeleteSharedDLLsA(LPCSTR fileName) { return delete_count<SharedDllsA>(fileName); }

}  // extern "C"
