// Application registration: the App Paths entry through which the shell
// starts a program by its bare file name, and the application's own key
// three levels below HKEY_LOCAL_MACHINE\SOFTWARE.
//
// Every argument is checked and every path composed before the first registry
// call, so a refused call has touched neither the registry nor the caller's
// buffer.
#include <windows.h>

#include "KX_Pellam.h"
#include "install/key_name.h"
#include "install/registry.h"
#include "kx/results.h"

namespace {

using kx::kRefused;

constexpr int kCreateAttempts = 8;

template <class C>
bool compose_entry(kx::PathBuffer<C>& path, const C* file_name) noexcept {
  return path.copy(KX_TEXT(C, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\")).append(file_name).ok();
}

// "SOFTWARE\first", then "\second", then "\third", as far as `levels` asks.
template <class C>
bool compose_app_key(kx::PathBuffer<C>& path, int levels, const C* first, const C* second, const C* third) noexcept {
  path.copy(KX_TEXT(C, "SOFTWARE\\")).append(first);
  if (levels >= 2) path.append(KX_TEXT(C, "\\")).append(second);
  if (levels >= 3) path.append(KX_TEXT(C, "\\")).append(third);
  return path.ok();
}

template <class R>
LSTATUS regist_app_path(const typename R::Char* file_name, const typename R::Char* directory) noexcept {
  using C = typename R::Char;
  if (!kx::is_key_name(file_name) || kx::is_empty(directory)) return kRefused;
  kx::PathBuffer<C> key_path;
  kx::PathBuffer<C> program;  // the directory followed directly by the file name
  if (!compose_entry(key_path, file_name)) return kRefused;
  if (!program.copy(directory).append(file_name).ok()) return kRefused;

  kx::RegKey key;
  const LSTATUS created = R::create(HKEY_LOCAL_MACHINE, key_path.c_str(), key);
  if (created != ERROR_SUCCESS) return created;
  // An entry without its values does not start the program, so a failed
  // write is reported (the first one) instead of being taken for success;
  // the second value is written all the same.
  const LSTATUS path_written = R::set_string(key.get(), KX_TEXT(C, "Path"), directory);
  const LSTATUS program_written = R::set_string(key.get(), KX_TEXT(C, ""), program.c_str());
  return path_written != ERROR_SUCCESS ? path_written : program_written;
}

// The stored bytes come back as they are, with or without a terminator. They
// are read into a path buffer of our own and handed on only once they form a
// string that ends within 260 characters; a value that fills all 260 without
// a terminator does not fit and is reported as ERROR_MORE_DATA, like one the
// platform itself finds too long, with the caller's buffer left empty.
template <class R>
LSTATUS query_app_path(const typename R::Char* file_name, typename R::Char* out) noexcept {
  using C = typename R::Char;
  if (!kx::is_key_name(file_name) || out == nullptr) return kRefused;
  kx::PathBuffer<C> key_path;
  if (!compose_entry(key_path, file_name)) return kRefused;
  out[0] = 0;

  kx::RegKey key;
  const LSTATUS opened = R::open(HKEY_LOCAL_MACHINE, key_path.c_str(), key);
  if (opened != ERROR_SUCCESS) return opened;
  kx::PathBuffer<C> stored;
  DWORD bytes = kx::kPathCapacity * sizeof(C);
  const LSTATUS read = R::query(key.get(), KX_TEXT(C, "path"), nullptr, stored.data(), &bytes);
  if (read != ERROR_SUCCESS) return read;

  C* text = stored.data();
  const DWORD chars = bytes / sizeof(C);
  DWORD end = 0;
  while (end < chars && text[end] != 0) ++end;
  if (end >= static_cast<DWORD>(kx::kPathCapacity)) return ERROR_MORE_DATA;
  text[end] = 0;
  kx::bounded_copy(out, kx::kPathCapacity, text);
  return ERROR_SUCCESS;
}

template <class R>
LSTATUS delete_app_path(const typename R::Char* file_name) noexcept {
  using C = typename R::Char;
  if (!kx::is_key_name(file_name)) return kRefused;
  return kx::delete_list_entry<R>(KX_TEXT(C, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths"), file_name,
                                   false);
}

template <class C>
bool app_key_names(const C* first, const C* second, const C* third) noexcept {
  return kx::is_key_name(first) && kx::is_key_name(second) && kx::is_key_name(third);
}

template <class R>
LSTATUS regist_app(const typename R::Char* first, const typename R::Char* second,
                   const typename R::Char* third) noexcept {
  using C = typename R::Char;
  if (!app_key_names(first, second, third)) return kRefused;
  kx::PathBuffer<C> path;
  if (!compose_app_key(path, 3, first, second, third)) return kRefused;
  // The first two levels are shared with the vendor's other applications,
  // whose removal deletes them once they look empty. The platform creates a
  // path one level at a time, so a removal between two levels fails the
  // creation with ERROR_KEY_DELETED although nothing is wrong: the path is
  // then created again from the top, a bounded number of times.
  LSTATUS status = ERROR_KEY_DELETED;
  for (int attempt = 0; attempt < kCreateAttempts && status == ERROR_KEY_DELETED; ++attempt) {
    kx::RegKey key;
    status = R::create(HKEY_LOCAL_MACHINE, path.c_str(), key);
  }
  return status;
}

// One stage of the removal: opens the parent, deletes one child that has no
// sub-keys left, closes the parent before the next stage begins.
template <class R>
LSTATUS delete_child(const typename R::Char* parent, const typename R::Char* child) noexcept {
  kx::RegKey key;
  const LSTATUS opened = R::open(HKEY_LOCAL_MACHINE, parent, key);
  if (opened == ERROR_SUCCESS) R::delete_key(key.get(), child);
  return opened;
}

template <class R>
LSTATUS delete_app(const typename R::Char* first, const typename R::Char* second,
                   const typename R::Char* third) noexcept {
  using C = typename R::Char;
  if (!app_key_names(first, second, third)) return kRefused;
  // The whole application key must fit, so that removal accepts exactly the
  // names that registration accepts.
  kx::PathBuffer<C> whole;
  kx::PathBuffer<C> second_level;
  kx::PathBuffer<C> first_level;
  if (!compose_app_key(whole, 3, first, second, third) || !compose_app_key(second_level, 2, first, second, third) ||
      !compose_app_key(first_level, 1, first, second, third)) {
    return kRefused;
  }
  delete_child<R>(second_level.c_str(), third);
  delete_child<R>(first_level.c_str(), second);
  return delete_child<R>(KX_TEXT(C, "SOFTWARE\\"), first);
}

}  // namespace

extern "C" int WINAPI KX_InstRegistAppPathW(const wchar_t* fileName, const wchar_t* directory) {
  return regist_app_path<kx::RegistryW>(fileName, directory);
}
extern "C" int WINAPI KX_InstRegistAppPathA(const char* fileName, const char* directory) {
  return regist_app_path<kx::RegistryA>(fileName, directory);
}
extern "C" int WINAPI KX_InstQueryAppPathW(const wchar_t* fileName, wchar_t* directory) {
  return query_app_path<kx::RegistryW>(fileName, directory);
}
extern "C" int WINAPI KX_InstQueryAppPathA(const char* fileName, char* directory) {
  return query_app_path<kx::RegistryA>(fileName, directory);
}
extern "C" int WINAPI KX_InstDeleteAppPathW(const wchar_t* fileName) {
  return delete_app_path<kx::RegistryW>(fileName);
}
extern "C" int WINAPI KX_InstDeleteAppPathA(const char* fileName) {
  return delete_app_path<kx::RegistryA>(fileName);
}
extern "C" int WINAPI KX_InstRegistAppW(const wchar_t* first, const wchar_t* second, const wchar_t* third) {
  return regist_app<kx::RegistryW>(first, second, third);
}
extern "C" int WINAPI KX_InstRegistAppA(const char* first, const char* second, const char* third) {
  return regist_app<kx::RegistryA>(first, second, third);
}
extern "C" int WINAPI KX_InstDeleteAppW(const wchar_t* first, const wchar_t* second, const wchar_t* third) {
  return delete_app<kx::RegistryW>(first, second, third);
}
extern "C" int WINAPI KX_InstDeleteAppA(const char* first, const char* second, const char* third) {
  return delete_app<kx::RegistryA>(first, second, third);
}
