// Known-folder paths: every family, both widths, against what the shell itself
// answers under Wine, at the exact size boundaries, in buffers that end at a
// guard page; and through the call recorder for what Wine cannot show.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "KX_Brindel.h"
#include "KX_Pellam.h"
#include "support/guard_page.h"
#include "support/recorder.h"
#include "support/width.h"

namespace {

using kxtest::text;

struct Family {
  const char* name;
  int csidl;  // the number as the shell defines it, spelt out on purpose
  int(WINAPI* compose_w)(LPWSTR, int, LPCWSTR, LPCWSTR);
  int(WINAPI* compose_a)(LPSTR, int, LPCSTR, LPCSTR);
  int(WINAPI* plain_w)(LPWSTR, int);
  int(WINAPI* plain_a)(LPSTR, int);
  bool composing() const { return compose_w != nullptr; }
};

#define COMPOSING(n, csidl) {#n, csidl, n##W, n##A, nullptr, nullptr}
#define PLAIN(n, csidl) {#n, csidl, nullptr, nullptr, n##W, n##A}
const Family kFamilies[] = {
    COMPOSING(KX_GetAppDataPath, 0x1A),        COMPOSING(KX_GetAppLocalDataPath, 0x1C),
    COMPOSING(KX_GetAppCommonDataPath, 0x23),  COMPOSING(KX_GetProgramPath, 0x26),
    COMPOSING(KX_GetProgramCommonPath, 0x2B),  COMPOSING(KX_GetStartMenuPath, 0x0B),
    COMPOSING(KX_GetStartProgramPath, 0x02),   COMPOSING(KX_GetCommonStartMenuPath, 0x16),
    COMPOSING(KX_GetCommonStartProgramPath, 0x17),
    PLAIN(KX_GetStartUpPath, 0x07),            PLAIN(KX_GetCommonStartUpPath, 0x18),
    PLAIN(KX_GetMyDocumentPath, 0x05),         PLAIN(KX_GetMyPicturePath, 0x27),
    PLAIN(KX_GetMyMusicPath, 0x0D),            PLAIN(KX_GetMyVideoPath, 0x0E),
    PLAIN(KX_GetDesktopPath, 0x10),            PLAIN(KX_GetFavoritesPath, 0x06),
    PLAIN(KX_GetRecentPath, 0x08),             PLAIN(KX_GetSendToPath, 0x09),
    PLAIN(KX_GetCommonDocumentPath, 0x2E),     PLAIN(KX_GetCommonDesktopPath, 0x19),
    PLAIN(KX_GetFontPath, 0x14),
};
#undef COMPOSING
#undef PLAIN

// The exports of width C, with the system calls the test asks and watches.
template <class C>
struct Api {
  using Shell = kxtest::Pick<C, decltype(SHGetFolderPathW), decltype(SHGetFolderPathA)>;
  using ModuleFile = kxtest::Pick<C, decltype(GetModuleFileNameW), decltype(GetModuleFileNameA)>;
  using DirectoryName = kxtest::Pick<C, decltype(KX_GetDirectoryNameW), decltype(KX_GetDirectoryNameA)>;
  static constexpr const char* kShell = kxtest::pick<C>("SHGetFolderPathW", "SHGetFolderPathA");
  static constexpr const char* kModuleFile = kxtest::pick<C>("GetModuleFileNameW", "GetModuleFileNameA");
  static constexpr const char* kDirectoryName = kxtest::pick<C>("KX_GetDirectoryNameW", "KX_GetDirectoryNameA");
  static constexpr auto program = kxtest::pick<C>(KX_GetCurrentProgramPathW, KX_GetCurrentProgramPathA);
  static HRESULT shell(int csidl, C* out) {
    return kxtest::pick<C>(SHGetFolderPathW, SHGetFolderPathA)(nullptr, csidl, nullptr, 0, out);
  }
  static DWORD module_file(HMODULE m, C* out) {
    return kxtest::pick<C>(GetModuleFileNameW, GetModuleFileNameA)(m, out, MAX_PATH);
  }
  static int call(const Family& f, C* out, int size, const C* first, const C* second) {
    return f.composing() ? kxtest::pick<C>(f.compose_w, f.compose_a)(out, size, first, second)
                         : kxtest::pick<C>(f.plain_w, f.plain_a)(out, size);
  }
};

template <class C>
using Text = std::basic_string<C>;

// What the shell itself answers for the folder, asked directly by the test.
template <class C>
std::optional<Text<C>> shell_folder(int csidl) {
  C buf[MAX_PATH] = {};
  if (FAILED(Api<C>::shell(csidl, buf))) return std::nullopt;
  return Text<C>(buf);
}

HMODULE pellam() { return GetModuleHandleW(L"KX_Pellam.dll"); }

template <class C>
bool untouched_from(const kxtest::GuardBuffer<C>& out, std::size_t from) {
  for (std::size_t i = from; i < static_cast<std::size_t>(out.capacity()); ++i) {
    if (out.data()[i] != kxtest::kGarbage<C>[i % kxtest::kGarbageLength]) return false;
  }
  return true;
}

// Runs `call` on an output of exactly `size` characters that ends at a guard
// page and starts out as the sentinel. With `want`, the call must succeed
// with exactly that text and write nothing after its terminator; without, it
// must fail leaving only the first character zeroed.
template <class C, class Call>
void expect_output(int size, const std::optional<Text<C>>& want, Call call) {
  kxtest::GuardBuffer<C> out(size);
  out.fill_garbage();
  const int result = call(out.data(), size);
  if (want) {
    ASSERT_EQ(result, 1) << "size " << size;
    EXPECT_EQ(out.text(), *want) << "size " << size;
    EXPECT_TRUE(untouched_from(out, want->size() + 1)) << "size " << size;
  } else {
    EXPECT_EQ(result, 0) << "size " << size;
    if (size > 0) {
      EXPECT_EQ(out.data()[0], C(0)) << "size " << size;
    }
    EXPECT_TRUE(untouched_from(out, 1)) << "size " << size;
  }
}

template <class C>
class KnownFolders : public kxtest::WidthTest<C> {
 protected:
  using A = Api<C>;
};
TYPED_TEST_SUITE(KnownFolders, kxtest::Widths, kxtest::WidthNames);

TYPED_TEST(KnownFolders, EveryFamilyGivesTheShellsFolderExactlyAtItsSizeBoundary) {
  using C = TypeParam;
  using A = typename TestFixture::A;
  using Want = std::optional<Text<C>>;
  const Text<C> a = text<C>("KXTest_Folders Company"), b = text<C>("Product");
  const Text<C> sep = text<C>("\\");
  int found = 0;
  for (const Family& f : kFamilies) {
    SCOPED_TRACE(f.name);
    const auto at = [&](const C* first, const C* second) {
      return [&f, first, second](C* out, int size) { return A::call(f, out, size, first, second); };
    };
    const Want folder = shell_folder<C>(f.csidl);
    if (!folder) {  // Wine lacks some folders: the export refuses as the shell does
      expect_output<C>(MAX_PATH, Want(), at(nullptr, nullptr));
      continue;
    }
    ++found;
    const int n = static_cast<int>(folder->size());
    if (!f.composing()) {
      expect_output<C>(n, Want(), at(nullptr, nullptr));
      expect_output<C>(n + 1, folder, at(nullptr, nullptr));
      continue;
    }
    const int m = static_cast<int>(a.size()), k = static_cast<int>(b.size());
    expect_output<C>(n + 1, Want(), at(nullptr, nullptr));
    expect_output<C>(n + 2, folder, at(nullptr, nullptr));
    expect_output<C>(n + m + 2, Want(), at(a.c_str(), nullptr));
    expect_output<C>(n + m + 3, Want(*folder + sep + a), at(a.c_str(), nullptr));
    expect_output<C>(n + m + k + 2, Want(), at(a.c_str(), b.c_str()));
    expect_output<C>(n + m + k + 3, Want(*folder + sep + a + sep + b), at(a.c_str(), b.c_str()));
    // The second name alone fills exactly the room the size rule reserves.
    expect_output<C>(n + k + 1, Want(), at(nullptr, b.c_str()));
    expect_output<C>(n + k + 2, Want(*folder + sep + b), at(nullptr, b.c_str()));
  }
  EXPECT_GE(found, 15) << "Wine should know most of these folders";
}

TYPED_TEST(KnownFolders, NamesAreInsertedVerbatimAndNeverCut) {
  using C = TypeParam;
  using A = typename TestFixture::A;
  using Want = std::optional<Text<C>>;
  const Family& app_data = kFamilies[0];
  const Want folder = shell_folder<C>(app_data.csidl);
  ASSERT_TRUE(folder);
  const auto at = [&](const Text<C>& first, const C* second) {
    return [&app_data, first, second](C* out, int size) { return A::call(app_data, out, size, first.c_str(), second); };
  };
  const Text<C> x = text<C>("x");
  expect_output<C>(MAX_PATH, Want(*folder + text<C>("\\")), at(Text<C>(), nullptr));
  expect_output<C>(MAX_PATH, Want(*folder + text<C>("\\a\\\\x")), at(text<C>("a\\"), x.c_str()));
  // Composed text is formatted, which never yields more than 1,023 characters:
  // a path one longer is refused whole, even into a buffer with room for it.
  const std::size_t fill = 1023 - folder->size() - 1;
  expect_output<C>(2048, Want(*folder + text<C>("\\") + Text<C>(fill, C('n'))), at(Text<C>(fill, C('n')), nullptr));
  expect_output<C>(2048, Want(), at(Text<C>(fill + 1, C('n')), nullptr));
}

TYPED_TEST(KnownFolders, EachExportMakesOneBareShellCallAndNoneWithoutABuffer) {
  using C = TypeParam;
  using A = typename TestFixture::A;
  kxtest::Recorder rec(pellam());
  auto& shell = rec.hook<typename A::Shell>("shell32.dll", A::kShell);
  for (const Family& f : kFamilies) {
    SCOPED_TRACE(f.name);
    rec.clear();
    C out[MAX_PATH];
    A::call(f, out, MAX_PATH, nullptr, nullptr);
    ASSERT_EQ(rec.order().size(), 1u);
    ASSERT_EQ(shell.count(), 1u);
    const auto& [owner, csidl, token, flags, folder] = shell.calls[0];
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(csidl, f.csidl);  // no CSIDL_FLAG_* bit, so nothing is created
    EXPECT_EQ(token, nullptr);
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(folder, Text<C>()) << "the folder buffer is cleared before the call";

    rec.clear();
    EXPECT_EQ(A::call(f, nullptr, MAX_PATH, nullptr, nullptr), 0);
    EXPECT_EQ(shell.count(), 0u);
    // No room promised, none used: the buffer ends at the guard page.
    for (int size : {0, -1}) {
      kxtest::GuardBuffer<C> none(0);
      EXPECT_EQ(A::call(f, none.data(), size, nullptr, nullptr), 0);
    }
  }
}

TYPED_TEST(KnownFolders, WhatTheShellAnswersDecides) {
  using C = TypeParam;
  using A = typename TestFixture::A;
  using Want = std::optional<Text<C>>;
  kxtest::Recorder rec(pellam());
  auto& shell = rec.hook<typename A::Shell>("shell32.dll", A::kShell);
  HRESULT answer = S_OK;
  Text<C> writes;
  shell.script = [&](HWND, int, HANDLE, DWORD, C* folder) -> std::optional<HRESULT> {
    for (std::size_t i = 0; i < writes.size() && i < MAX_PATH; ++i) folder[i] = writes[i];
    if (writes.size() < MAX_PATH) folder[writes.size()] = 0;
    return answer;
  };
  const Text<C> scripted = text<C>("C:\\KXTest_Folders");
  for (const Family& f : {kFamilies[0], kFamilies[20]}) {  // one composing, one plain
    SCOPED_TRACE(f.name);
    const auto call = [&f](C* out, int size) { return A::call(f, out, size, nullptr, nullptr); };
    answer = S_FALSE, writes = scripted;
    expect_output<C>(MAX_PATH, Want(scripted), call);
    answer = E_FAIL;
    expect_output<C>(MAX_PATH, Want(), call);
    // Success without a folder, or with no terminator in the folder buffer, is
    // no folder: composing onto "" would name the drive's root.
    answer = S_FALSE, writes.clear();
    expect_output<C>(MAX_PATH, Want(), call);
    answer = S_OK, writes = Text<C>(MAX_PATH, C('z'));
    expect_output<C>(MAX_PATH, Want(), call);
  }
}

// ---- The folder of a module --------------------------------------------------

template <class C>
Text<C> file_of(HMODULE module) {
  C buf[MAX_PATH] = {};
  EXPECT_NE(Api<C>::module_file(module, buf), 0u);
  return buf;
}

TYPED_TEST(KnownFolders, ModuleFolderEndsInABackslashAndIsTestedAgainstTheFullName) {
  using C = TypeParam;
  using A = typename TestFixture::A;
  using Want = std::optional<Text<C>>;
  for (HMODULE module : {HMODULE(nullptr), pellam()}) {
    const Text<C> full = file_of<C>(module);
    const Want folder = full.substr(0, full.rfind(C('\\')) + 1);
    const int n = static_cast<int>(full.size());
    const auto call = [module](C* out, int size) { return A::program(module, out, size); };
    expect_output<C>(n, Want(), call);
    expect_output<C>(static_cast<int>(folder->size()) + 1, Want(), call);
    expect_output<C>(n + 1, folder, call);
    expect_output<C>(0, Want(), call);
  }
  void* not_a_module = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  expect_output<C>(MAX_PATH, Want(), [&](C* out, int size) { return A::program(HMODULE(not_a_module), out, size); });
  VirtualFree(not_a_module, 0, MEM_RELEASE);
}

TYPED_TEST(KnownFolders, ModuleFolderAsksFor260AndHandsTheDirectoryHelper260) {
  using C = TypeParam;
  using A = typename TestFixture::A;
  using Want = std::optional<Text<C>>;
  kxtest::Recorder rec(pellam());
  auto& file = rec.hook<typename A::ModuleFile>("kernel32.dll", A::kModuleFile);
  auto& dir = rec.hook<typename A::DirectoryName>("KX_Brindel.dll", A::kDirectoryName);
  C* handed = nullptr;
  dir.observe = [&](const C*, C* out, int) { handed = out; };

  kxtest::GuardBuffer<C> out(2 * MAX_PATH);  // room beyond 260 that the helper must not be offered
  ASSERT_EQ(A::program(pellam(), out.data(), out.capacity()), 1);
  ASSERT_EQ(rec.order(), (std::vector<std::string>{A::kModuleFile, A::kDirectoryName}));
  EXPECT_EQ(std::get<0>(file.calls[0]), pellam());
  EXPECT_EQ(std::get<2>(file.calls[0]), DWORD(MAX_PATH));
  EXPECT_EQ(std::get<0>(dir.calls[0]), file_of<C>(pellam()));
  EXPECT_EQ(std::get<2>(dir.calls[0]), MAX_PATH);
  EXPECT_EQ(handed, out.data());

  rec.clear();
  EXPECT_EQ(A::program(nullptr, nullptr, MAX_PATH), 0);
  EXPECT_TRUE(rec.order().empty());

  // A failed lookup, a name cut at the capacity (older systems leave it
  // unterminated) and a name without any folder all end before the helper.
  DWORD answer = 0;
  Text<C> writes;
  file.script = [&](HMODULE, C* path, DWORD) -> std::optional<DWORD> {
    for (std::size_t i = 0; i < writes.size(); ++i) path[i] = writes[i];
    if (writes.size() < MAX_PATH) path[writes.size()] = 0;
    return answer;
  };
  const auto call = [](C* o, int size) { return A::program(nullptr, o, size); };
  const Text<C> cut = text<C>("C:\\") + Text<C>(MAX_PATH - 3, C('z'));
  for (const auto& [result, name] : {std::pair{DWORD(0), Text<C>()}, std::pair{DWORD(MAX_PATH), cut},
                                      std::pair{DWORD(7), text<C>("app.exe")}}) {
    rec.clear();
    answer = result, writes = name;
    expect_output<C>(2 * MAX_PATH, Want(), call);
    EXPECT_EQ(dir.count(), 0u);
  }
}

}  // namespace
