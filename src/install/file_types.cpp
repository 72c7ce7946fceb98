// File-type association below HKEY_CLASSES_ROOT: the extension key names the
// class, the class key carries the description, its DefaultIcon key the icon,
// and its shell\<verb>\<action> keys what the shell runs for a document.
//
// Everything a call hands to the registry is checked before the first
// registry call: HKEY_CLASSES_ROOT is shared by every program on the machine,
// and a key name that is cut, empty or starts with a backslash names a
// different key than the caller meant, or the root itself, which the
// recursive delete below would empty.
#include <windows.h>
#include <shlobj.h>

#include <cstddef>

#include "KX_Pellam.h"
#include "install/registry.h"
#include "kx/results.h"

namespace {

using kx::kRefused;
constexpr int kFailed = kx::kFileTypeFailed;

struct FileTypesW : kx::RegistryW {
  static bool lead_byte(wchar_t) noexcept { return false; }
};

// The narrow class name is cut at a backslash byte only where that byte is a
// character of its own. In a double-byte code page (932, 936, 949, 950) 0x5C
// is also a valid trail byte; cutting there would leave a dangling lead byte
// as the class name while the registry, which reads the path in the same
// code page, files the keys under the whole character.
struct FileTypesA : kx::RegistryA {
  static bool lead_byte(char c) noexcept { return ::IsDBCSLeadByte(static_cast<BYTE>(c)) != FALSE; }
};

template <class C>
constexpr C kBackslash = C('\\');

constexpr auto kPath = static_cast<std::size_t>(kx::kPathCapacity);

// A class name becomes a key name of its own: it must be there, fit a path
// buffer, and not start with a backslash, which the registry would resolve
// from HKEY_CLASSES_ROOT itself.
template <class C>
bool class_name_ok(const C* name) noexcept {
  return kx::fits(name, kPath, false) && name[0] != kBackslash<C>;
}

template <class C>
bool extension_key(kx::PathBuffer<C>& key, const C* extension) noexcept {
  return key.copy(KX_TEXT(C, ".")).append(extension).ok();
}

void notify_associations_changed() noexcept {
  ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

template <class T>
int regist_ext(const typename T::Char* extension, const typename T::Char* description,
               const typename T::Char* class_name, const typename T::Char* icon_file, int icon_index) noexcept {
  using C = typename T::Char;
  if (kx::is_empty(extension) || kx::is_empty(class_name) || kx::is_empty(icon_file)) return kRefused;
  kx::PathBuffer<C> ext_key;
  if (!extension_key(ext_key, extension)) return kRefused;
  if (!class_name_ok(class_name)) return kRefused;
  kx::PathBuffer<C> icon_key;
  if (!T::format(icon_key.data(), kPath, KX_TEXT(C, "%s\\DefaultIcon"), class_name)) return kRefused;
  kx::PathBuffer<C> icon;
  if (!T::format(icon.data(), kPath, KX_TEXT(C, "%s,%d"), icon_file, icon_index)) return kRefused;

  // A missing description is written as an empty value, never passed on as
  // a null data pointer with a zero byte count.
  const C* const text = description != nullptr ? description : KX_TEXT(C, "");

  if (kx::create_with_default<T>(HKEY_CLASSES_ROOT, ext_key.c_str(), class_name) != ERROR_SUCCESS) return kFailed;
  if (kx::create_with_default<T>(HKEY_CLASSES_ROOT, class_name, text) != ERROR_SUCCESS) return kFailed;
  if (kx::create_with_default<T>(HKEY_CLASSES_ROOT, icon_key.c_str(), icon.c_str()) != ERROR_SUCCESS) return kFailed;
  return 0;
}

template <class T>
int regist_ext_action(const typename T::Char* class_name, const typename T::Char* verb,
                      const typename T::Char* action, const typename T::Char* command) noexcept {
  using C = typename T::Char;
  if (kx::is_empty(class_name) || kx::is_empty(verb) || kx::is_empty(action) || kx::is_empty(command)) {
    return kRefused;
  }
  if (!class_name_ok(class_name)) return kRefused;
  kx::PathBuffer<C> action_key;
  if (!T::format(action_key.data(), kPath, KX_TEXT(C, "%s\\shell\\%s\\%s"), class_name, verb, action)) {
    return kRefused;
  }
  const LSTATUS status = kx::create_with_default<T>(HKEY_CLASSES_ROOT, action_key.c_str(), command);
  notify_associations_changed();
  return static_cast<int>(status);
}

template <class T>
int unregist_ext(const typename T::Char* extension, const typename T::Char* class_name) noexcept {
  using C = typename T::Char;
  if (kx::is_empty(extension) || kx::is_empty(class_name)) return kRefused;
  kx::PathBuffer<C> ext_key;
  if (!extension_key(ext_key, extension)) return kRefused;
  if (!class_name_ok(class_name)) return kRefused;

  int result = 0;
  if (T::delete_tree(HKEY_CLASSES_ROOT, ext_key.c_str()) != ERROR_SUCCESS) result = kFailed;
  if (T::delete_tree(HKEY_CLASSES_ROOT, class_name) != ERROR_SUCCESS) result = kFailed;
  notify_associations_changed();
  return result;
}

// The output is bounded by the library's own path buffer, 260 characters with
// the terminator. A first component that does not fit leaves the output
// empty rather than cut: a cut class name would name somebody else's key.
template <class T>
void query_class_name(const typename T::Char* key_path, typename T::Char* out) noexcept {
  using C = typename T::Char;
  if (out == nullptr) return;
  out[0] = 0;
  if (key_path == nullptr) return;
  std::size_t n = 0;
  while (key_path[n] != 0 && key_path[n] != kBackslash<C>) {
    const std::size_t step = T::lead_byte(key_path[n]) && key_path[n + 1] != 0 ? 2 : 1;
    if (n + step >= kPath) return;
    n += step;
  }
  for (std::size_t i = 0; i < n; ++i) out[i] = key_path[i];
  out[n] = 0;
}

}  // namespace

extern "C" int WINAPI KX_InstRegistExtW(const wchar_t* extension, const wchar_t* description,
                                        const wchar_t* class_name, const wchar_t* icon_file, int icon_index) {
  return regist_ext<FileTypesW>(extension, description, class_name, icon_file, icon_index);
}
extern "C" int WINAPI KX_InstRegistExtA(const char* extension, const char* description, const char* class_name,
                                        const char* icon_file, int icon_index) {
  return regist_ext<FileTypesA>(extension, description, class_name, icon_file, icon_index);
}

extern "C" int WINAPI KX_InstRegistExtActionW(const wchar_t* class_name, const wchar_t* verb, const wchar_t* action,
                                              const wchar_t* command) {
  return regist_ext_action<FileTypesW>(class_name, verb, action, command);
}
extern "C" int WINAPI KX_InstRegistExtActionA(const char* class_name, const char* verb, const char* action,
                                              const char* command) {
  return regist_ext_action<FileTypesA>(class_name, verb, action, command);
}

extern "C" int WINAPI KX_InstUnregistExtW(const wchar_t* extension, const wchar_t* class_name) {
  return unregist_ext<FileTypesW>(extension, class_name);
}
extern "C" int WINAPI KX_InstUnregistExtA(const char* extension, const char* class_name) {
  return unregist_ext<FileTypesA>(extension, class_name);
}

extern "C" void WINAPI KX_InstQueryClassNameW(const wchar_t* key_path, wchar_t* class_name) {
  query_class_name<FileTypesW>(key_path, class_name);
}
extern "C" void WINAPI KX_InstQueryClassNameA(const char* key_path, char* class_name) {
  query_class_name<FileTypesA>(key_path, class_name);
}
