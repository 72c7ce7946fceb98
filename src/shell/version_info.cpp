// One string out of a file's version resource, looked up under the first
// language and code page of its translation table. The whole resource is read
// into one heap block that lives for the call only.
#include <windows.h>

#include <cstddef>

#include "KX_Pellam.h"
#include "frame/owners.h"
#include "kx/results.h"
#include "kx/twins.h"

namespace {

struct VersionW : kx::Wide {
  static DWORD size(const wchar_t* file) noexcept { return ::GetFileVersionInfoSizeW(file, nullptr); }
  static BOOL read(const wchar_t* file, DWORD size, void* block) noexcept {
    return ::GetFileVersionInfoW(file, 0, size, block);
  }
  static BOOL query(const void* block, const wchar_t* path, void** value, UINT* length) noexcept {
    return ::VerQueryValueW(block, path, value, length);
  }
  static int version_info(const wchar_t* file, int index, wchar_t* out, int size) noexcept {
    return ::KX_GetResourceVersionInfoW(file, index, out, size);
  }
};

struct VersionA : kx::Narrow {
  static DWORD size(const char* file) noexcept { return ::GetFileVersionInfoSizeA(file, nullptr); }
  static BOOL read(const char* file, DWORD size, void* block) noexcept {
    return ::GetFileVersionInfoA(file, 0, size, block);
  }
  static BOOL query(const void* block, const char* path, void** value, UINT* length) noexcept {
    return ::VerQueryValueA(block, path, value, length);
  }
  static int version_info(const char* file, int index, char* out, int size) noexcept {
    return ::KX_GetResourceVersionInfoA(file, index, out, size);
  }
};

constexpr int kKeyCount = 12;
constexpr int kProductNameKey = 9;

// The standard version-string names, in the order of the key index. An index
// outside the table names no key, so the call ends before any file is read.
template <class C>
const C* key_name(int index) noexcept {
  static constexpr const C* kKeys[kKeyCount] = {
      KX_TEXT(C, "Comments"),       KX_TEXT(C, "CompanyName"),      KX_TEXT(C, "FileDescription"),
      KX_TEXT(C, "FileVersion"),    KX_TEXT(C, "InternalName"),     KX_TEXT(C, "LegalCopyright"),
      KX_TEXT(C, "LegalTrademarks"), KX_TEXT(C, "OriginalFilename"), KX_TEXT(C, "PrivateBuild"),
      KX_TEXT(C, "ProductName"),    KX_TEXT(C, "ProductVersion"),   KX_TEXT(C, "SpecialBuild")};
  return index >= 0 && index < kKeyCount ? kKeys[index] : nullptr;
}

// A string value as the block holds it: `length` characters that end at a
// terminator within them or, when the count leaves the terminator out,
// right after them. A value that ends in neither place, or would need a
// read beyond the block, is no string to hand on.
template <class C>
bool is_whole_string(const C* value, UINT length, const BYTE* block, std::size_t block_size) noexcept {
  if (kx::capped_length(value, length) < length) return true;
  const BYTE* after = reinterpret_cast<const BYTE*>(value + length);
  return after >= block && after + sizeof(C) <= block + block_size && value[length] == 0;
}

template <class T>
int resource_version_info(const typename T::Char* file, int index, typename T::Char* out, int size) noexcept {
  using C = typename T::Char;
  // No room for even the empty string: nothing may be written at all.
  if (out == nullptr || size <= 0) return kx::kNotDone;
  out[0] = 0;
  const C* key = key_name<C>(index);
  if (key == nullptr || file == nullptr) return kx::kNotDone;

  const DWORD bytes = T::size(file);
  if (bytes == 0) return kx::kNotDone;
  kx::HeapBlock block(bytes);
  if (!block) return kx::kNotDone;
  // A block the platform did not fill holds no resource, and walking it for
  // a value would read whatever the heap left there.
  if (!T::read(file, bytes, block.get())) return kx::kNotDone;

  const BYTE* base = static_cast<const BYTE*>(block.get());
  void* found = nullptr;
  UINT length = 0;
  // The first translation is two 16-bit words; fewer bytes name none.
  if (!T::query(block.get(), KX_TEXT(C, "\\VarFileInfo\\Translation"), &found, &length) || found == nullptr ||
      length < 2 * sizeof(WORD)) {
    return kx::kDone;
  }
  const WORD* translation = static_cast<const WORD*>(found);
  C path[kx::kPathCapacity];
  if (!T::format(path, kx::kPathCapacity, KX_TEXT(C, "\\StringFileInfo\\%04x%04x\\%s"),
                 static_cast<unsigned>(translation[0]), static_cast<unsigned>(translation[1]), key)) {
    return kx::kDone;
  }
  found = nullptr;
  length = 0;
  if (!T::query(block.get(), path, &found, &length) || found == nullptr || length == 0) return kx::kDone;
  const C* value = static_cast<const C*>(found);
  // A value longer than the output is refused whole: the output stays empty
  // rather than holding a cut version string that reads as another one.
  if (is_whole_string(value, length, base, bytes)) kx::bounded_copy(out, static_cast<std::size_t>(size), value);
  return kx::kDone;
}

// The product name is the general query fixed to its key, made through the
// export exactly as a caller would make it.
template <class T>
int product_name(const typename T::Char* file, typename T::Char* out, int size) noexcept {
  if (out != nullptr && size > 0) out[0] = 0;
  return T::version_info(file, kProductNameKey, out, size);
}

}  // namespace

extern "C" int WINAPI KX_GetResourceVersionInfoW(LPCWSTR fileName, int keyIndex, LPWSTR buffer, int size) {
  return resource_version_info<VersionW>(fileName, keyIndex, buffer, size);
}
extern "C" int WINAPI KX_GetResourceVersionInfoA(LPCSTR fileName, int keyIndex, LPSTR buffer, int size) {
  return resource_version_info<VersionA>(fileName, keyIndex, buffer, size);
}
extern "C" int WINAPI KX_GetProductNameW(LPCWSTR fileName, LPWSTR buffer, int size) {
  return product_name<VersionW>(fileName, buffer, size);
}
extern "C" int WINAPI KX_GetProductNameA(LPCSTR fileName, LPSTR buffer, int size) {
  return product_name<VersionA>(fileName, buffer, size);
}
