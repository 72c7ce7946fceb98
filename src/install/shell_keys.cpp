// A file type and one key below its class in a single call: the extension
// key, the class key with its description, and a caller-named key path (such
// as "MyType.Doc\shell\open\command") with its default value. The class is
// the path's first component, found by the public class-name export exactly
// as a caller of the library finds it.
#include <windows.h>

#include "KX_Pellam.h"
#include "install/key_name.h"
#include "install/registry.h"
#include "kx/results.h"

namespace {

using kx::kRefused;

struct ShellKeysW : kx::RegistryW {
  static void class_name(const wchar_t* key_path, wchar_t* out) noexcept { KX_InstQueryClassNameW(key_path, out); }
};

struct ShellKeysA : kx::RegistryA {
  static void class_name(const char* key_path, char* out) noexcept { KX_InstQueryClassNameA(key_path, out); }
};

// The class name comes back empty when the path starts with a backslash or
// its first component does not fit a path buffer; both are refused.
template <class T>
bool class_name_of(const typename T::Char* key_path, kx::PathBuffer<typename T::Char>& out) noexcept {
  T::class_name(key_path, out.data());
  return out.c_str()[0] != 0;
}

// Every argument is required, the description and the value too: an empty
// extension would name the key "." and an empty key path HKEY_CLASSES_ROOT
// itself, whose default value the last stage would overwrite; refusing all
// four alike keeps the rule as plain as the action export's.
template <class T>
LSTATUS regist_shell_key(const typename T::Char* extension, const typename T::Char* description,
                         const typename T::Char* key_path, const typename T::Char* value) noexcept {
  using C = typename T::Char;
  if (kx::is_empty(extension) || kx::is_empty(description) || kx::is_empty(key_path) || kx::is_empty(value)) {
    return kRefused;
  }
  kx::PathBuffer<C> class_name;
  if (!class_name_of<T>(key_path, class_name)) return kRefused;
  kx::PathBuffer<C> ext_key;
  if (!ext_key.copy(KX_TEXT(C, ".")).append(extension).ok()) return kRefused;
  kx::PathBuffer<C> full_key;
  if (!full_key.copy(key_path).ok()) return kRefused;
  kx::PathBuffer<C> data;
  if (!data.copy(value).ok()) return kRefused;
  // The class key is the key path's first component, so these two cover all
  // three keys.
  if (!kx::components_fit(ext_key.c_str()) || !kx::components_fit(full_key.c_str())) return kRefused;

  // The stages do not depend on one another; only the last one is reported.
  kx::create_with_default<T>(HKEY_CLASSES_ROOT, ext_key.c_str(), class_name.c_str());
  kx::create_with_default<T>(HKEY_CLASSES_ROOT, class_name.c_str(), description);
  return kx::create_with_default<T>(HKEY_CLASSES_ROOT, full_key.c_str(), data.c_str());
}

template <class T>
LSTATUS unregist_shell_key(const typename T::Char* extension, const typename T::Char* key_path) noexcept {
  using C = typename T::Char;
  if (kx::is_empty(extension) || kx::is_empty(key_path)) return kRefused;
  kx::PathBuffer<C> class_name;
  if (!class_name_of<T>(key_path, class_name)) return kRefused;
  kx::PathBuffer<C> ext_key;
  if (!ext_key.copy(KX_TEXT(C, ".")).append(extension).ok()) return kRefused;

  // "\" opens HKEY_CLASSES_ROOT itself as a handle of our own, relative to
  // which the two plain deletes work; neither removes a key that still has
  // sub-keys, so another program's tree below these names is never lost.
  kx::RegKey root;
  const LSTATUS status = T::open(HKEY_CLASSES_ROOT, KX_TEXT(C, "\\"), root);
  if (status != ERROR_SUCCESS) return status;
  T::delete_key(root.get(), ext_key.c_str());
  T::delete_key(root.get(), class_name.c_str());
  return ERROR_SUCCESS;
}

}  // namespace

extern "C" int WINAPI KX_InstRegistShellKeyW(const wchar_t* extension, const wchar_t* description,
                                             const wchar_t* key_path, const wchar_t* value) {
  return static_cast<int>(regist_shell_key<ShellKeysW>(extension, description, key_path, value));
}
extern "C" int WINAPI KX_InstRegistShellKeyA(const char* extension, const char* description, const char* key_path,
                                             const char* value) {
  return static_cast<int>(regist_shell_key<ShellKeysA>(extension, description, key_path, value));
}

extern "C" int WINAPI KX_InstUnregistShellKeyW(const wchar_t* extension, const wchar_t* key_path) {
  return static_cast<int>(unregist_shell_key<ShellKeysW>(extension, key_path));
}
extern "C" int WINAPI KX_InstUnregistShellKeyA(const char* extension, const char* key_path) {
  return static_cast<int>(unregist_shell_key<ShellKeysA>(extension, key_path));
}
