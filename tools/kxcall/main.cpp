// kxcall: calls one export of KX_Pellam or KX_Brindel from the command line,
// so that batch files and installers can use the library without a compiler.
//
//   kxcall NAME [ARG...]   call NAME, print the result and every output
//   kxcall --list          every export with its arguments
//   kxcall --help NAME     one export's contract
//   kxcall --version       the product version kxcall was built with
//
// Exit code: 0 when the result means success for its kind, 1 when it does
// not, 2 for bad arguments (nothing is called), 3 when the DLL or the export
// cannot be loaded.
#include <objbase.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "invoke.h"
#include "kx_version.h"
#include "table.h"

namespace {

using kxcall::Export;
using kxcall::Kind;

constexpr int kSucceeded = 0;
constexpr int kFailed = 1;
constexpr int kBadArguments = 2;
constexpr int kNotLoaded = 3;

void write(HANDLE out, const std::wstring& text) {
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(out, &mode)) {
    WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  // Redirected output is UTF-8, whatever the console's code page.
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr, nullptr);
  WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void print(const std::wstring& text) { write(GetStdHandle(STD_OUTPUT_HANDLE), text + L"\n"); }
void complain(const std::wstring& text) { write(GetStdHandle(STD_ERROR_HANDLE), L"kxcall: " + text + L"\n"); }

std::wstring widen(const char* text, UINT codePage = CP_ACP) {
  int n = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text, -1, out.data(), n);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

std::string narrow(const std::wstring& text, bool* exact = nullptr) {
  // A character the ANSI code page lacks would reach the export as '?' or a
  // look-alike; callers that pass text on ask to hear about it.
  BOOL lossy = FALSE;
  BOOL* check = exact != nullptr && GetACP() != CP_UTF8 ? &lossy : nullptr;
  DWORD flags = check != nullptr ? WC_NO_BEST_FIT_CHARS : 0;
  if (exact != nullptr) *exact = true;
  int n = WideCharToMultiByte(CP_ACP, flags, text.c_str(), -1, nullptr, 0, nullptr, check);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, flags, text.c_str(), -1, out.data(), n, nullptr, check);
  out.resize(static_cast<std::size_t>(n - 1));
  if (exact != nullptr) *exact = !lossy;
  return out;
}

std::wstring hex(std::uint64_t value) {
  wchar_t text[24];
  swprintf(text, 24, L"0x%llX", static_cast<unsigned long long>(value));
  return text;
}

int typed_count(const Export& e) {
  int n = 0;
  for (unsigned k = 0; k < e.count; ++k) n += typed_words(e.kinds[k]);
  return n;
}

std::wstring signature(const Export& e) {
  std::wstring text = widen(e.name) + L"(";
  for (unsigned k = 0; k < e.count; ++k) {
    if (k != 0) text += L", ";
    text += widen(kxcall::kind_name(e.kinds[k], e.wide));
  }
  return text + L") -> " + widen(kxcall::result_name(e.result));
}

// Decimal with an optional minus sign, or hexadecimal after 0x; the whole
// word must be the number, within [low, high].
bool parse_number(const wchar_t* text, std::int64_t low, std::uint64_t high, std::uint64_t& value) {
  bool negative = *text == L'-';
  if (negative) ++text;
  unsigned base = 10;
  if (text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
    base = 16;
    text += 2;
  }
  if (*text == 0) return false;
  std::uint64_t magnitude = 0;
  for (; *text != 0; ++text) {
    unsigned digit;
    if (*text >= L'0' && *text <= L'9') digit = static_cast<unsigned>(*text - L'0');
    else if (base == 16 && *text >= L'a' && *text <= L'f') digit = static_cast<unsigned>(*text - L'a' + 10);
    else if (base == 16 && *text >= L'A' && *text <= L'F') digit = static_cast<unsigned>(*text - L'A' + 10);
    else return false;
    if (magnitude > (UINT64_MAX - digit) / base) return false;
    magnitude = magnitude * base + digit;
  }
  if (negative) {
    if (low >= 0 || magnitude > static_cast<std::uint64_t>(-(low + 1)) + 1) return false;
    value = ~magnitude + 1;
    return true;
  }
  if (magnitude > high) return false;
  value = magnitude;
  return true;
}

// Storage for one call's arguments; everything lives until the outputs are printed.
struct Call {
  std::uintptr_t values[kxcall::kMaxArgs] = {};
  std::wstring wide[kxcall::kMaxArgs];
  std::string ansi[kxcall::kMaxArgs];
  std::vector<wchar_t> wbuf[kxcall::kMaxArgs];
  std::vector<char> abuf[kxcall::kMaxArgs];
  WORD word[kxcall::kMaxArgs] = {};
  int integer[kxcall::kMaxArgs] = {};
  COLORREF colour = 0;
  KX_INPUT_ATTACHMENT record = {};
};

bool bad(const Export& e, int position, const wchar_t* word, const wchar_t* why) {
  complain(widen(e.name) + L": argument " + std::to_wstring(position) + L" \"" + word + L"\" " + why);
  return false;
}

// A text buffer of the export's width with room for capacity characters,
// optionally starting with the typed text.
bool make_buffer(const Export& e, Call& c, unsigned k, std::size_t capacity, const wchar_t* initial, int position) {
  if (e.wide) {
    std::wstring text = initial ? initial : L"";
    if (text.size() >= capacity) return bad(e, position, initial, L"does not fit the 260-character buffer");
    c.wbuf[k].assign(capacity, L'\0');
    text.copy(c.wbuf[k].data(), text.size());
    c.values[k] = reinterpret_cast<std::uintptr_t>(c.wbuf[k].data());
  } else {
    bool exact = true;
    std::string text = initial ? narrow(initial, &exact) : "";
    if (!exact) return bad(e, position, initial, L"cannot be written in the ANSI code page");
    if (text.size() >= capacity) return bad(e, position, initial, L"does not fit the 260-character buffer");
    c.abuf[k].assign(capacity, '\0');
    text.copy(c.abuf[k].data(), text.size());
    c.values[k] = reinterpret_cast<std::uintptr_t>(c.abuf[k].data());
  }
  return true;
}

bool prepare(const Export& e, wchar_t** words, Call& c) {
  constexpr std::int64_t kInt32Min = INT32_MIN;
  constexpr std::uint64_t kUint32Max = UINT32_MAX;
  int position = 0;
  for (unsigned k = 0; k < e.count; ++k) {
    Kind kind = e.kinds[k];
    const wchar_t* word = typed_words(kind) > 0 ? words[position] : nullptr;
    if (typed_words(kind) > 0) ++position;
    std::uint64_t number = 0;
    switch (kind) {
      case kxcall::s:
      case kxcall::filter:
        if (std::wcscmp(word, L":null") == 0) break;
        c.wide[k] = word;
        if (kind == kxcall::filter) {
          for (wchar_t& ch : c.wide[k])
            if (ch == L'|') ch = L'\0';
          c.wide[k].push_back(L'\0');  // the list ends in two NULs
        }
        if (e.wide) {
          c.values[k] = reinterpret_cast<std::uintptr_t>(c.wide[k].c_str());
        } else {
          // Converted piecewise so that the NULs of a filter list survive.
          for (std::size_t start = 0; start <= c.wide[k].size();) {
            std::size_t stop = c.wide[k].find(L'\0', start);
            if (stop == std::wstring::npos) stop = c.wide[k].size();
            bool exact = true;
            c.ansi[k] += narrow(c.wide[k].substr(start, stop - start), &exact);
            if (!exact) return bad(e, position, word, L"cannot be written in the ANSI code page");
            if (stop < c.wide[k].size()) c.ansi[k].push_back('\0');
            start = stop + 1;
          }
          c.values[k] = reinterpret_cast<std::uintptr_t>(c.ansi[k].c_str());
        }
        break;
      case kxcall::i:
      case kxcall::u:
      case kxcall::dw:
        if (!parse_number(word, kInt32Min, kUint32Max, number))
          return bad(e, position, word, L"is not a 32-bit number (decimal, or hexadecimal after 0x)");
        c.values[k] = static_cast<std::uint32_t>(number);
        break;
      case kxcall::w:
        if (!parse_number(word, 0, 0xFFFF, number))
          return bad(e, position, word, L"is not a number from 0 to 0xFFFF");
        c.values[k] = static_cast<std::uintptr_t>(number);
        break;
      case kxcall::hwnd:
      case kxcall::hmod:
      case kxcall::hicon:
      case kxcall::cptr:
      case kxcall::ptr:
        if (!parse_number(word, 0, UINTPTR_MAX, number))
          return bad(e, position, word, L"is not a handle or address (decimal, or hexadecimal after 0x)");
        c.values[k] = static_cast<std::uintptr_t>(number);
        break;
      case kxcall::buf:
        if (!make_buffer(e, c, k, kxcall::kBufCapacity, nullptr, position)) return false;
        break;
      case kxcall::cap:
        c.values[k] = kxcall::kBufCapacity;
        break;
      case kxcall::buf260:
      case kxcall::io260:
        if (!make_buffer(e, c, k, MAX_PATH, word, position)) return false;
        break;
      case kxcall::outw:
        c.values[k] = reinterpret_cast<std::uintptr_t>(&c.word[k]);
        break;
      case kxcall::outi:
        c.values[k] = reinterpret_cast<std::uintptr_t>(&c.integer[k]);
        break;
      case kxcall::iocolour:
        if (!parse_number(word, 0, kUint32Max, number))
          return bad(e, position, word, L"is not a colour 0x00BBGGRR");
        c.colour = static_cast<COLORREF>(number);
        c.values[k] = reinterpret_cast<std::uintptr_t>(&c.colour);
        break;
      case kxcall::recout:
        c.values[k] = reinterpret_cast<std::uintptr_t>(&c.record);
        break;
      case kxcall::recin:
        // Two words: the first is word, the second the one after it.
        if (!parse_number(word, 0, kUint32Max, number)) return bad(e, position, word, L"is not a thread id");
        c.record.attachingThread = static_cast<DWORD>(number);
        ++position;
        if (!parse_number(words[position - 1], 0, kUint32Max, number))
          return bad(e, position, words[position - 1], L"is not a thread id");
        c.record.foregroundThread = static_cast<DWORD>(number);
        c.values[k] = reinterpret_cast<std::uintptr_t>(&c.record);
        break;
    }
  }
  return true;
}

std::wstring text_of(const Export& e, const Call& c, unsigned k) {
  return e.wide ? std::wstring(c.wbuf[k].data()) : widen(c.abuf[k].data());
}

void print_outputs(const Export& e, const Call& c) {
  for (unsigned k = 0; k < e.count; ++k) {
    std::wstring label = L"  out " + std::to_wstring(k + 1) + L": ";
    switch (e.kinds[k]) {
      case kxcall::buf:
      case kxcall::buf260:
      case kxcall::io260: print(label + text_of(e, c, k)); break;
      case kxcall::outw: print(label + std::to_wstring(c.word[k]) + L" (" + hex(c.word[k]) + L")"); break;
      case kxcall::outi: print(label + std::to_wstring(c.integer[k])); break;
      case kxcall::iocolour: print(label + hex(c.colour)); break;
      case kxcall::recout:
        print(label + std::to_wstring(c.record.attachingThread) + L" " + std::to_wstring(c.record.foregroundThread));
        break;
      default: break;
    }
  }
}

// Prints the result and answers whether it means success for its kind.
bool report(const Export& e, std::uintptr_t raw) {
  auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(raw));
  std::wstring number = std::to_wstring(value);
  switch (e.result) {
    case kxcall::flag:
      print(L"result: " + number + (value != 0 ? L" (done)" : L" (not done)"));
      return value != 0;
    case kxcall::status:
      print(L"result: " + number + (value == 0 ? L" (success)" : L" (error)"));
      return value == 0;
    case kxcall::hres:
      print(L"result: " + hex(static_cast<std::uint32_t>(value)) + (value >= 0 ? L" (success)" : L" (failure)"));
      return value >= 0;
    case kxcall::count:
      print(L"result: " + number);
      return value >= 0;
    case kxcall::code:
      print(L"result: " + number + (value == 0 ? L" (unknown)" : L""));
      return value != 0;
    case kxcall::arch:
      print(L"result: " + number);
      return true;
    case kxcall::none:
      print(L"result: none");
      return true;
    case kxcall::addr:
      print(L"result: " + hex(raw) + (raw != 0 ? L"" : L" (null)"));
      return raw != 0;
  }
  return false;
}

int usage() {
  print(L"usage: kxcall NAME [ARG...] | kxcall --list | kxcall --help NAME | kxcall --version\n"
        L"  Strings are typed as they are (\":null\" for a null pointer); numbers, handles and\n"
        L"  addresses in decimal or as 0x hexadecimal. Output buffers are kxcall's own.\n"
        L"  Exit code: 0 success, 1 the export reported failure, 2 bad arguments (nothing\n"
        L"  called), 3 the DLL or the export could not be loaded.");
  return kBadArguments;
}

const Export* lookup(const wchar_t* name) {
  std::string ascii = narrow(name);
  const Export* e = kxcall::find(ascii.c_str());
  if (e != nullptr) return e;
  std::wstring message = L"no export named \"" + std::wstring(name) + L"\"";
  if (const Export* similar = kxcall::find_ignoring_case(ascii.c_str()))
    message += L" (did you mean " + widen(similar->name) + L"?)";
  complain(message + L"; kxcall --list shows them all");
  return nullptr;
}

FARPROC resolve(const Export& e) {
  // Loaded from kxcall's own folder, never from the search path.
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  std::wstring dll(path, n);
  dll.resize(dll.find_last_of(L"\\/") + 1);
  dll += e.brindel ? L"KX_Brindel.dll" : L"KX_Pellam.dll";
  HMODULE module = LoadLibraryExW(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) {
    complain(L"cannot load " + dll + L" (error " + std::to_wstring(GetLastError()) + L")");
    return nullptr;
  }
  FARPROC proc = GetProcAddress(module, e.name);
  if (proc == nullptr) complain(L"the DLL has no export " + widen(e.name));
  return proc;
}

int run(int argc, wchar_t** argv) {
  if (argc < 2) return usage();
  std::wstring first = argv[1];
  if (first == L"--list") {
    for (const Export* e = kxcall::begin(); e != kxcall::end(); ++e) print(signature(*e));
    return kSucceeded;
  }
  if (first == L"--version") {
    print(L"kxcall " KX_VERSION_TEXT);
    return kSucceeded;
  }
  if (first == L"--help" || first == L"-h" || first == L"/?") {
    if (argc == 2) {
      usage();
      return kSucceeded;
    }
    if (argc != 3) return usage();
    const Export* e = lookup(argv[2]);
    if (e == nullptr) return kBadArguments;
    print(signature(*e));
    print(L"  " + widen(e->help));
    return kSucceeded;
  }
  const Export* e = lookup(argv[1]);
  if (e == nullptr) return kBadArguments;
  int expected = typed_count(*e);
  if (argc - 2 != expected) {
    complain(widen(e->name) + L" takes " + std::to_wstring(expected) + L" argument(s), " +
             std::to_wstring(argc - 2) + L" given: " + signature(*e));
    return kBadArguments;
  }
  Call call;
  if (!prepare(*e, argv + 2, call)) return kBadArguments;
  FARPROC proc = resolve(*e);
  if (proc == nullptr) return kNotLoaded;
  // Dialogs and the folder browser want a single-threaded apartment; the
  // shortcut exports work inside it as well.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::uintptr_t raw = kxcall::invoke(proc, e->count, call.values);
  bool ok = report(*e, raw);
  print_outputs(*e, call);
  if (SUCCEEDED(com)) CoUninitialize();
  return ok ? kSucceeded : kFailed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) { return run(argc, argv); }
