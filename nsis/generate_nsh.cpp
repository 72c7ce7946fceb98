// Prints KX_Pellam.nsh, the NSIS include for every export, from the catalogue
// that kxcall reads (tools/kxcall/exports.inc). A host program: it runs at
// build time on the build machine, never under Wine.
//
// Every argument reaches System::Call through the NSIS stack (`s` sources), so
// any text, quotes included, passes unchanged, and a macro never pastes a
// caller's value into the call text. Strings are copied into blocks of their
// own first, so that ":null" can pass a null pointer as it does for kxcall.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kinds.h"

namespace {

using kxcall::Kind;
using kxcall::Result;

struct Row {
  std::string heading;  // set for a family's heading, empty for an export
  std::string base;     // the export's name without its W/A suffix
  const char* module;   // KX_Pellam or KX_Brindel
  bool twin;
  Result result;
  std::vector<Kind> kinds;
  std::string help;
};

std::vector<Row> catalogue() {
  using namespace kxcall;
  std::vector<Row> rows;
#define FAMILY(title) rows.push_back(Row{title, "", "", false, none, {}, ""});
#define TWIN(base, R, help, ...) rows.push_back(Row{"", #base, "KX_Pellam", true, R, {__VA_ARGS__}, help});
#define ONE(fn, R, help, ...) rows.push_back(Row{"", #fn, "KX_Pellam", false, R, {__VA_ARGS__}, help});
#define BRINDEL(base, R, help, ...) rows.push_back(Row{"", #base, "KX_Brindel", true, R, {__VA_ARGS__}, help});
#include "exports.inc"
#undef FAMILY
#undef TWIN
#undef ONE
#undef BRINDEL
  return rows;
}

// The caller's variables (outputs) and values (inputs) one argument takes;
// the capacity takes none, the record two.
int words(Kind k) {
  switch (k) {
    case kxcall::cap: return 0;
    case kxcall::recout:
    case kxcall::recin: return 2;
    default: return 1;
  }
}

bool writes_back(Kind k) {
  switch (k) {
    case kxcall::buf:
    case kxcall::buf260:
    case kxcall::io260:
    case kxcall::outw:
    case kxcall::outi:
    case kxcall::iocolour:
    case kxcall::recout: return true;
    default: return false;
  }
}

// How the usage line names an argument the contract does not name.
const char* placeholder(Kind k) {
  switch (k) {
    case kxcall::s: return "TEXT";
    case kxcall::filter: return "FILTER";
    case kxcall::i: return "INT";
    case kxcall::u: return "UINT";
    case kxcall::dw: return "DWORD";
    case kxcall::w: return "WORD";
    case kxcall::hwnd: return "HWND";
    case kxcall::hmod: return "HMODULE";
    case kxcall::hicon: return "HICON";
    case kxcall::cptr:
    case kxcall::ptr: return "ADDRESS";
    case kxcall::buf:
    case kxcall::buf260: return "OUT_TEXT_VAR";
    case kxcall::io260: return "INOUT_TEXT_VAR";
    case kxcall::outw: return "OUT_WORD_VAR";
    case kxcall::outi: return "OUT_INT_VAR";
    case kxcall::iocolour: return "INOUT_COLOUR_VAR";
    case kxcall::recout: return "OUT_ATTACHING_VAR OUT_FOREGROUND_VAR";
    case kxcall::recin: return "ATTACHING_THREAD FOREGROUND_THREAD";
    case kxcall::cap: return "";
  }
  return "?";
}

// kxcall types some kinds on its command line; the contract's help text
// names them, in order, before its first colon.
bool typed(Kind k) { return kxcall::typed_words(k) > 0; }

std::vector<std::string> named_arguments(const Row& r) {
  std::vector<std::string> names;
  std::size_t colon = r.help.find(": ");
  if (colon == std::string::npos) return {};
  std::string head = r.help.substr(0, colon) + " ";
  for (std::size_t start = 0, space; (space = head.find(' ', start)) != std::string::npos; start = space + 1) {
    std::string word = head.substr(start, space - start);
    for (char c : word)
      if (!std::isalnum(static_cast<unsigned char>(c))) return {};
    names.push_back(word);
  }
  std::size_t expected = 0;
  for (Kind k : r.kinds) expected += typed(k) ? static_cast<std::size_t>(words(k)) : 0;
  if (names.size() != expected) return {};
  return names;
}

std::string usage(const Row& r) {
  std::string text = "${" + r.base + "}";
  if (r.result != kxcall::none) text += " RESULT_VAR";
  std::vector<std::string> names = named_arguments(r);
  std::size_t next = 0;
  for (Kind k : r.kinds) {
    if (k == kxcall::cap) continue;
    // A variable that carries a value in keeps its placeholder, so that it
    // reads as a variable.
    if (typed(k) && !names.empty() && !writes_back(k)) {
      for (int n = 0; n < words(k); ++n) text += " " + names[next++];
    } else {
      text += " ";
      text += placeholder(k);
      if (typed(k) && !names.empty()) next += static_cast<std::size_t>(words(k));
    }
  }
  return text;
}

std::string signature(const Row& r, const std::string& name, bool wide) {
  std::string text = name + "(";
  for (std::size_t n = 0; n < r.kinds.size(); ++n) {
    if (n != 0) text += ", ";
    text += kxcall::kind_name(r.kinds[n], wide);
  }
  return text + ") -> " + kxcall::result_name(r.result);
}

// The macro's parameter for argument n (from 1), and the second of a record's two.
std::string param(std::size_t n, bool second = false) {
  return "_KX_" + std::to_string(n) + (second ? "b" : "");
}

// System::Call's type and source/destination for one argument.
const char* call_type(Kind k) {
  switch (k) {
    case kxcall::s:
    case kxcall::filter:
    case kxcall::recout:
    case kxcall::recin: return "p s s";  // our own block, handed back to be freed
    case kxcall::i:
    case kxcall::u:
    case kxcall::dw:
    case kxcall::w: return "i s";
    case kxcall::hwnd:
    case kxcall::hmod:
    case kxcall::hicon:
    case kxcall::cptr:
    case kxcall::ptr: return "p s";
    case kxcall::buf:
    case kxcall::buf260: return "t .s";
    case kxcall::cap: return "i ${NSIS_MAX_STRLEN}";
    case kxcall::io260: return "t s s";
    case kxcall::outw:
    case kxcall::outi: return "*i 0 s";
    case kxcall::iocolour: return "*i s s";
  }
  return "?";
}

// The function's variable for argument n, and the second of a record's two.
std::string var(std::size_t n, bool second = false) { return "$" + param(n, second); }

bool takes_in(Kind k) {
  switch (k) {
    case kxcall::buf:
    case kxcall::buf260:
    case kxcall::cap:
    case kxcall::outw:
    case kxcall::outi:
    case kxcall::recout: return false;
    default: return true;
  }
}

// Pushes argument n's value, as the call pops it.
void push(Kind k, std::size_t n) {
  std::string v = var(n);
  switch (k) {
    case kxcall::s: std::printf("  !insertmacro _KX_Text `%s` %zu\n", v.c_str(), n); break;
    case kxcall::filter: std::printf("  !insertmacro _KX_Filter `%s` $_KX_R %zu\n", v.c_str(), n); break;
    case kxcall::buf:
    case kxcall::buf260:
    case kxcall::cap:
    case kxcall::outw:
    case kxcall::outi: break;
    case kxcall::io260:
    case kxcall::iocolour: std::printf("  Push %s\n", v.c_str()); break;
    case kxcall::recout: std::printf("  System::Call '*(i 0, i 0) p .s'\n"); break;
    case kxcall::recin:
      std::printf("  Push %s\n  Push %s\n  System::Call '*(i s, i s) p .s'\n", var(n, true).c_str(), v.c_str());
      break;
    default: std::printf("  Push %s\n", v.c_str()); break;
  }
}

// Takes argument n's output off the stack after the call.
void pop(Kind k, std::size_t n) {
  std::string v = var(n);
  switch (k) {
    case kxcall::s:
    case kxcall::filter:
    case kxcall::recin: std::printf("  System::Call 'kernel32::GlobalFree(p s)'\n"); break;
    case kxcall::recout:
      std::printf("  Pop %s\n  System::Call '*%s(i .s, i .s)'\n  System::Call 'kernel32::GlobalFree(p %s)'\n"
                  "  Pop %s\n  Pop %s\n",
                  v.c_str(), v.c_str(), v.c_str(), v.c_str(), var(n, true).c_str());
      break;
    default:
      if (writes_back(k)) std::printf("  Pop %s\n", v.c_str());
      break;
  }
}

// The platform predicates' facts, read from their names: the version word,
// then _x64 and _Later. Home Server is a suite of its version, not a version.
struct Platform {
  int major = 0, minor = 0;
  bool server = false, x64 = false, suite = false, later = false;
};

bool platform(const std::string& base, Platform& p) {
  static const struct {
    const char* word;
    int major, minor;
    bool server, suite;
  } versions[] = {{"2000", 5, 0, false, false},       {"XP", 5, 1, false, false},
                  {"Vista", 6, 0, false, false},      {"7", 6, 1, false, false},
                  {"2000Server", 5, 0, true, false},  {"2003Server", 5, 2, true, false},
                  {"HomeServer", 5, 2, true, true},   {"HomeServer2011", 5, 3, true, true},
                  {"2008Server", 6, 0, true, false},  {"2008R2Server", 6, 1, true, false}};
  const std::string prefix = "KX_IsPlatform";
  if (base.compare(0, prefix.size(), prefix) != 0) return false;
  std::string word = base.substr(prefix.size());
  auto strip = [&word](const std::string& tail) {
    bool found = word.size() > tail.size() && word.compare(word.size() - tail.size(), tail.size(), tail) == 0;
    if (found) word.resize(word.size() - tail.size());
    return found;
  };
  p.later = strip("_Later");
  p.x64 = strip("_x64");
  for (const auto& v : versions) {
    if (word != v.word) continue;
    p.major = v.major;
    p.minor = v.minor;
    p.server = v.server;
    p.suite = v.suite;
    // XP's 64-bit edition is version 5.2; Server 2008 R2 has no 32-bit one.
    if (word == "XP" && p.x64) p.minor = 2;
    if (word == "2008R2Server") p.x64 = true;
    return true;
  }
  std::fprintf(stderr, "generate_nsh: %s is a predicate of no known version\n", base.c_str());
  std::exit(1);
}

std::string test_name(const std::string& base) { return "KX_Is" + base.substr(std::string("KX_IsPlatform").size()); }

// A value typed into the script is checked while the script compiles: a
// backtick would split it, and an extension must come without its dot.
void check_literal(const Row& r, std::size_t n, const std::vector<std::string>& names, std::size_t name_index) {
  std::printf("  !insertmacro KX_literal_holds_a_backtick...put_the_text_in_a_variable_and_pass_that `${%s}`\n",
              param(n).c_str());
  if (name_index < names.size() && names[name_index] == "extension")
    std::printf("  !insertmacro _KX_NoDot %s `${%s}`\n", r.base.c_str(), param(n).c_str());
}

bool emit(const Row& r) {
  if (!r.heading.empty()) {
    std::printf("\n; ---- %s\n", r.heading.c_str());
    return true;
  }
  bool has_filter = false;
  for (Kind k : r.kinds) has_filter = has_filter || k == kxcall::filter;
  // The filter's conversion borrows the result variable for its cursor.
  if (has_filter && r.result == kxcall::none) return false;

  std::printf("\n; %s\n", usage(r).c_str());
  if (r.twin) {
    std::printf(";   %s\n", signature(r, r.base + "W", true).c_str());
    std::printf(";   %s\n", signature(r, r.base + "A", false).c_str());
  } else {
    std::printf(";   %s\n", signature(r, r.base, true).c_str());
  }
  // A comment line ending in a backslash would swallow the next line.
  if (!r.help.empty() && r.help.back() == '\\') return false;
  std::printf(";   %s\n", r.help.c_str());
  if (r.base == "KX_InstMsiProductIcon")
    std::printf(";   Inside an installer, 0 names the setup program itself, which is deleted or\n"
                ";   moved later: fill the entry from the installed program with\n"
                ";   ${KX_InstProductIconFile} instead.\n");
  const std::size_t N = r.kinds.size();

  // The macro a script uses: its values onto the stack, the function, its
  // variables off the stack.
  std::string params = r.result != kxcall::none ? " _KX_R" : "";
  for (std::size_t n = 1; n <= N; ++n) {
    Kind k = r.kinds[n - 1];
    if (words(k) >= 1) params += " " + param(n);
    if (words(k) == 2) params += " " + param(n, true);
  }
  std::printf("!macro %s%s\n  !verbose push ${_KX_VERBOSE}\n", r.base.c_str(), params.c_str());
  std::vector<std::string> names = named_arguments(r);
  for (std::size_t n = 1, named = 0; n <= N; ++n) {
    Kind k = r.kinds[n - 1];
    if (k == kxcall::s || k == kxcall::filter) check_literal(r, n, names, named);
    if (typed(k)) named += static_cast<std::size_t>(words(k));
  }
  for (std::size_t n = N; n >= 1; --n) {
    Kind k = r.kinds[n - 1];
    if (!takes_in(k)) continue;
    if (words(k) == 2) std::printf("  Push `${%s}`\n", param(n, true).c_str());
    std::printf("  Push `${%s}`\n", param(n).c_str());
  }
  std::printf("  ${CallArtificialFunction} %s_\n", r.base.c_str());
  if (r.result != kxcall::none) std::printf("  Pop ${_KX_R}\n");
  for (std::size_t n = 1; n <= N; ++n) {
    Kind k = r.kinds[n - 1];
    if (!writes_back(k)) continue;
    std::printf("  Pop ${%s}\n", param(n).c_str());
    if (words(k) == 2) std::printf("  Pop ${%s}\n", param(n, true).c_str());
  }
  std::printf("  !verbose pop\n!macroend\n");
  std::printf("!define %s \"!insertmacro %s\"\n", r.base.c_str(), r.base.c_str());

  // The function, once per installer and once per uninstaller: it loads the
  // DLL for the call only, so that no exit path finds it still loaded.
  std::printf("!macro %s_\n  !insertmacro _KX_Var KX_Folder\n  !insertmacro _KX_Var _KX_H\n", r.base.c_str());
  if (r.result != kxcall::none) std::printf("  !insertmacro _KX_Var _KX_R\n");
  for (std::size_t n = 1; n <= N; ++n) {
    Kind k = r.kinds[n - 1];
    if (k == kxcall::cap) continue;
    std::printf("  !insertmacro _KX_Var %s\n", param(n).c_str());
    if (words(k) == 2) std::printf("  !insertmacro _KX_Var %s\n", param(n, true).c_str());
  }
  for (std::size_t n = 1; n <= N; ++n) {
    Kind k = r.kinds[n - 1];
    if (!takes_in(k)) continue;
    std::printf("  Pop %s\n", var(n).c_str());
    if (words(k) == 2) std::printf("  Pop %s\n", var(n, true).c_str());
  }
  std::printf("  !define /redef _KX_U ${__COUNTER__}\n  !insertmacro _KX_Enter\n");
  for (std::size_t n = N; n >= 1; --n) push(r.kinds[n - 1], n);
  std::string types;
  for (std::size_t n = 0; n < N; ++n) types += (n ? ", " : "") + std::string(call_type(r.kinds[n]));
  const char* ret = r.result == kxcall::none ? "" : r.result == kxcall::addr ? " p .s" : " i .s";
  if (r.twin) {
    std::printf("  !ifdef NSIS_UNICODE\n");
    std::printf("  System::Call '%s::%sW(%s)%s'\n", r.module, r.base.c_str(), types.c_str(), ret);
    std::printf("  !else\n");
    std::printf("  System::Call '%s::%sA(%s)%s'\n", r.module, r.base.c_str(), types.c_str(), ret);
    std::printf("  !endif\n");
  } else {
    std::printf("  System::Call '%s::%s(%s)%s'\n", r.module, r.base.c_str(), types.c_str(), ret);
  }
  if (r.result != kxcall::none) std::printf("  Pop $_KX_R\n");
  for (std::size_t n = 1; n <= N; ++n) pop(r.kinds[n - 1], n);

  // Not loaded: every variable the macro would have set is emptied.
  std::printf("  System::Call 'kernel32::FreeLibrary(p $_KX_H)'\n");
  std::printf("  Goto _kx_${_KX_U}_done\n  _kx_${_KX_U}_unloaded:\n  SetErrors\n");
  if (r.result != kxcall::none) std::printf("  StrCpy $_KX_R \"\"\n");
  for (std::size_t n = 1; n <= N; ++n) {
    Kind k = r.kinds[n - 1];
    if (!writes_back(k)) continue;
    std::printf("  StrCpy %s \"\"\n", var(n).c_str());
    if (words(k) == 2) std::printf("  StrCpy %s \"\"\n", var(n, true).c_str());
  }
  std::printf("  _kx_${_KX_U}_done:\n");
  for (std::size_t n = N; n >= 1; --n) {
    Kind k = r.kinds[n - 1];
    if (!writes_back(k)) continue;
    if (words(k) == 2) std::printf("  Push %s\n", var(n, true).c_str());
    std::printf("  Push %s\n", var(n).c_str());
  }
  if (r.result != kxcall::none) std::printf("  Push $_KX_R\n");
  std::printf("  !undef _KX_U\n!macroend\n");

  // A predicate as a LogicLib test: ${If} ${KX_Is7_x64_Later} -1.
  Platform p;
  if (platform(r.base, p)) {
    std::string t = test_name(r.base);
    std::printf("!macro _%s _KX_A _KX_SP _KX_T _KX_F\n  !verbose push ${_KX_VERBOSE}\n"
                "  Push `${_KX_SP}`\n  ${CallArtificialFunction} %s_\n  !insertmacro _KX_Test `${_KX_T}` `${_KX_F}`\n"
                "  !verbose pop\n!macroend\n!define %s `\"\" %s`\n",
                t.c_str(), r.base.c_str(), t.c_str(), t.c_str());
  }
  return true;
}

// "At least this version, in any edition": for each edition the catalogue
// tells apart, the _Later predicate of that edition with the lowest version
// that is this one or later. Home Server's predicates ask for a suite as
// well, so they stand for no edition here.
struct AtLeast {
  const char* name;
  int major, minor;
  const char* winver;  // WinVer.nsh's test of the same version
};
const AtLeast kAtLeast[] = {{"2000", 5, 0, "AtLeastWin2000"},
                            {"XP", 5, 1, "AtLeastWinXP"},
                            {"2003", 5, 2, "AtLeastWin2003"},
                            {"Vista", 6, 0, "AtLeastWinVista"},
                            {"7", 6, 1, "AtLeastWin7"}};

std::vector<std::string> at_least_parts(const std::vector<Row>& rows, const AtLeast& a) {
  std::vector<std::string> parts;
  for (int server = 0; server < 2; ++server)
    for (int x64 = 0; x64 < 2; ++x64) {
      const Row* best = nullptr;
      Platform best_p;
      for (const Row& r : rows) {
        Platform p;
        if (!r.heading.empty() || !platform(r.base, p) || !p.later || p.suite) continue;
        if (p.server != (server == 1) || p.x64 != (x64 == 1)) continue;
        if (p.major * 100 + p.minor < a.major * 100 + a.minor) continue;
        if (best == nullptr || p.major * 100 + p.minor < best_p.major * 100 + best_p.minor) best = &r, best_p = p;
      }
      if (best != nullptr) parts.push_back(best->base);
    }
  return parts;
}

void emit_at_least(const std::vector<Row>& rows) {
  std::printf("\n; ---- At least a version, in any edition (LogicLib tests)\n"
              ";\n; ${If} ${KX_AtLeast<version>}: true on that version or a later one, in any\n"
              "; edition the predicates tell apart; each is the first of its predicates\n"
              "; (service pack -1) that answers 1:\n");
  for (const AtLeast& a : kAtLeast) {
    std::printf(";   KX_AtLeast%-6s %d.%d:", a.name, a.major, a.minor);
    for (const std::string& part : at_least_parts(rows, a)) std::printf(" %s", test_name(part).c_str());
    std::printf("   (WinVer.nsh: %s)\n", a.winver);
  }
  for (const AtLeast& a : kAtLeast) {
    std::printf("!macro _KX_AtLeast%s_\n  !insertmacro _KX_Var _KX_L\n  !define /redef _KX_W ${__COUNTER__}\n",
                a.name);
    for (const std::string& part : at_least_parts(rows, a))
      std::printf("  Push -1\n  ${CallArtificialFunction} %s_\n  Pop $_KX_L\n  StrCmp $_KX_L 1 _kx_${_KX_W}_yes\n",
                  part.c_str());
    std::printf("  Push 0\n  Goto _kx_${_KX_W}_end\n  _kx_${_KX_W}_yes:\n  Push 1\n  _kx_${_KX_W}_end:\n"
                "  !undef _KX_W\n!macroend\n");
    std::printf("!macro _KX_AtLeast%s _KX_A _KX_B _KX_T _KX_F\n  !verbose push ${_KX_VERBOSE}\n"
                "  ${CallArtificialFunction} _KX_AtLeast%s_\n  !insertmacro _KX_Test `${_KX_T}` `${_KX_F}`\n"
                "  !verbose pop\n!macroend\n!define KX_AtLeast%s `\"\" KX_AtLeast%s \"\"`\n",
                a.name, a.name, a.name, a.name);
  }
}

const char* const kPrologue = R"nsh(; KX_Pellam.nsh: every export of KX_Pellam.dll and KX_Brindel.dll as an NSIS
; macro. Generated from kxcall's catalogue at build time; edit the catalogue,
; not this file.
;
;   !define KX_BIN "<folder with KX_Pellam.dll and KX_Brindel.dll>"
;   !include "KX_Pellam.nsh"
;   ${KX_Load} "${KX_BIN}"        ; or ${KX_LoadFrom} "$INSTDIR"
;   ${KX_GetProgramPath} $0 $1 "Maker" "Product"
;   ${If} ${KX_AtLeast7}
;
; The DLLs must be of the installer's own bitness (amd64-unicode: the 64-bit
; ones; x86-unicode and x86-ansi: the 32-bit ones). Unicode installers call
; the W exports, ANSI installers the A exports.
;
; Conventions of every call macro below:
; - The first parameter is the variable that receives the result; exports
;   that return nothing have none. The other parameters follow the export's
;   arguments in order, as the usage line above each macro names them.
; - TEXT and the other input parameters are values: any text, double quotes
;   included (they travel on the NSIS stack, never inside the call's text).
;   The exact text :null passes a null pointer, as the contracts say. A
;   literal typed into the script must not hold a backtick (the macros quote
;   with them; makensis stops and says so); a variable holding one is fine.
;   An extension is given without its dot: "txt", not ".txt" (a literal with
;   the dot stops makensis; a variable is passed as it is).
; - FILTER is a file dialog's filter list typed with '|' between its parts,
;   e.g. "Text files|*.txt|All files|*.*|"; the macro puts in the NULs.
; - *_VAR parameters are variables; OUT_ ones receive text or a number,
;   INOUT_ ones hold the initial value and receive the new one. An output
;   buffer is the one System::Call allocates, ${NSIS_MAX_STRLEN} characters,
;   and that size is what the export is told. Where a contract below says
;   "prints", the macro's result or output variables receive it.
; - Results are decimal numbers, signed: a failed HRESULT is negative.
; - The attachment record of KX_AttachInput comes back as two variables, the
;   attaching thread's id and the foreground thread's id; KX_DetachInput
;   takes the same two numbers.
; - No register ($0-$9, $R0-$R9) is used and the stack is left as it was, so
;   the caller's registers and LogicLib's pass through unchanged.
; - Macros work in installer and uninstaller sections and functions alike.
; - The error flag: when the DLL is not loaded (no ${KX_Load}, a failed one,
;   or after ${KX_Unload}), a macro sets it, empties its result and output
;   variables and calls nothing. When the DLL is loaded, a macro leaves the
;   flag alone: the result says how the call went.
; - Addresses from KX_SND_LoadSound stay allocated until KX_SND_DeleteSoundMemory.
; - Cost: each export's body is an NSIS function (CallArtificialFunction, as
;   in FileFunc.nsh), written out once in the installer and once in the
;   uninstaller at the first use. A use then costs one instruction for each
;   value in, one for the call, and one for each variable out:
;   ${KX_GetAppDataPath} $0 $1 "a" "b" is 5 instructions, a LogicLib test
;   such as ${If} ${KX_Is7_Later} -1 is 4.
; - Variables are declared at their first use, so a script that includes
;   this file and uses none of it gets no warning.
; - !define _KX_VERBOSE 4 before the !include (or ${KX_VERBOSE} 4 after it)
;   shows the macros' lines at makensis -V4; the default 3 hides them.
; The contract lines below each usage line are those of `kxcall --help NAME`.

!ifndef KX_PELLAM_NSH_INCLUDED
!define KX_PELLAM_NSH_INCLUDED
!verbose push 3
!ifndef _KX_VERBOSE
  !define _KX_VERBOSE 3
!endif
!verbose ${_KX_VERBOSE}
!define KX_VERBOSE "!insertmacro KX_VERBOSE"
!macro KX_VERBOSE _KX_LEVEL
  !verbose push 3
  !define /redef _KX_VERBOSE ${_KX_LEVEL}
  !verbose pop
!macroend
!include Util.nsh

; Declares an NSIS variable the first time a macro needs it.
!macro _KX_Var _KX_NAME
  !ifndef _KX_VAR_${_KX_NAME}
    !define _KX_VAR_${_KX_NAME}
    Var /GLOBAL ${_KX_NAME}
  !endif
!macroend

; The DLLs are not kept loaded. ${KX_Load} and ${KX_LoadFrom} load them once
; to prove they can, then free them and remember their folder in $KX_Folder;
; each call loads KX_Pellam.dll (and so KX_Brindel.dll) for its own duration.
; The exports keep no state between calls, and nothing stays loaded that
; could keep $PLUGINSDIR or $INSTDIR from being removed: a silent run, an
; Abort anywhere and a failed install leave no DLL behind, without any
; ${KX_Unload} in .onGUIEnd, .onInstSuccess or .onInstFailed.
;
; ${KX_Load} FOLDER: packs both DLLs from FOLDER into the installer, extracts
; them into $PLUGINSDIR and loads them. FOLDER is known when the installer is
; compiled: either the folder of the DLLs (its path must not name the other
; architecture's x86 or x64 folder: makensis stops and says which one it
; needs), or a tree with an x64 and an x86 folder side by side, as the
; release zip has, from which the one of this target is taken.
; The error flag is set when the DLLs cannot be loaded, and cleared when
; they are; $KX_Error holds the Windows error code of the failed load
; (e.g. 126: not found; 193: a DLL of the other bitness), 0 after a good one.
!macro KX_Load _KX_FOLDER
  !verbose push ${_KX_VERBOSE}
  !insertmacro _KX_Folder `${_KX_FOLDER}`
  InitPluginsDir
  File "/oname=$PLUGINSDIR\KX_Pellam.dll" "${_KX_DLLS}/KX_Pellam.dll"
  File "/oname=$PLUGINSDIR\KX_Brindel.dll" "${_KX_DLLS}/KX_Brindel.dll"
  !undef _KX_DLLS
  Push $PLUGINSDIR
  ${CallArtificialFunction} _KX_LoadFrom
  !verbose pop
!macroend
!define KX_Load "!insertmacro KX_Load"

; ${KX_LoadFrom} FOLDER: uses the DLLs already in FOLDER (e.g. $INSTDIR), a
; value known at run time; the error flag and $KX_Error as for ${KX_Load}.
!macro KX_LoadFrom _KX_FOLDER
  !verbose push ${_KX_VERBOSE}
  Push `${_KX_FOLDER}`
  ${CallArtificialFunction} _KX_LoadFrom
  !verbose pop
!macroend
!define KX_LoadFrom "!insertmacro KX_LoadFrom"

; ${KX_Unload}: forgets the folder; the call macros then refuse. Nothing is
; loaded between calls, so DLLs may be deleted without it, but a call after
; their deletion fails.
!macro KX_Unload
  !verbose push ${_KX_VERBOSE}
  !insertmacro _KX_Var KX_Folder
  StrCpy $KX_Folder ""
  !verbose pop
!macroend
!define KX_Unload "!insertmacro KX_Unload"

; ${KX_InstProductIconFile} RESULT_VAR FILE KEYNAME: fills the empty
; DisplayIcon of the uninstall entry KEYNAME with FILE, the installed
; program (of the installer's bitness), mapped for the moment without being
; run: KX_InstMsiProductIcon with that module. 1 written; 0 when FILE
; cannot be mapped or the entry was not filled.
!macro KX_InstProductIconFile _KX_R _KX_1 _KX_2
  !verbose push ${_KX_VERBOSE}
  !insertmacro KX_literal_holds_a_backtick...put_the_text_in_a_variable_and_pass_that `${_KX_1}`
  !insertmacro KX_literal_holds_a_backtick...put_the_text_in_a_variable_and_pass_that `${_KX_2}`
  Push `${_KX_2}`
  Push `${_KX_1}`
  ${CallArtificialFunction} _KX_InstProductIconFile
  Pop ${_KX_R}
  !verbose pop
!macroend
!define KX_InstProductIconFile "!insertmacro KX_InstProductIconFile"
!macro _KX_InstProductIconFile
  !insertmacro _KX_Var _KX_I
  !define /redef _KX_V ${__COUNTER__}
  ; DONT_RESOLVE_DLL_REFERENCES: mapped as a module, its code never run.
  System::Call 'kernel32::LoadLibraryEx(t s, p 0, i 1) p .s'
  Pop $_KX_I
  StrCmp $_KX_I 0 _kx_${_KX_V}_unmapped
  Push $_KX_I
  ${CallArtificialFunction} KX_InstMsiProductIcon_
  System::Call 'kernel32::FreeLibrary(p $_KX_I)'
  Goto _kx_${_KX_V}_done
  _kx_${_KX_V}_unmapped:
  Pop $_KX_I
  Push 0
  _kx_${_KX_V}_done:
  !undef _KX_V
!macroend

!macro _KX_LoadFrom
  !insertmacro _KX_Var KX_Folder
  !insertmacro _KX_Var KX_Error
  !insertmacro _KX_Var _KX_H
  Pop $KX_Folder
  ; An installer's DLL search is kept to the system folder: the altered
  ; search path lets KX_Pellam.dll find KX_Brindel.dll beside it.
  Push "$KX_Folder\KX_Pellam.dll"
  System::Call 'kernel32::LoadLibraryEx(t s, p 0, i 0x8) p .s ?e'
  Pop $KX_Error
  Pop $_KX_H
  ClearErrors
  StrCmp $_KX_H 0 +4
  System::Call 'kernel32::FreeLibrary(p $_KX_H)'
  StrCpy $KX_Error 0
  Goto +3
  StrCpy $KX_Folder ""
  SetErrors
!macroend

; Defines _KX_DLLS, the folder of this target's DLLs, or stops makensis.
!macro _KX_Folder _KX_F
  !if ${NSIS_PTR_SIZE} > 4
    !define /redef _KX_BITS x64
    !define /redef _KX_OTHER x86
    !define /redef _KX_TARGET amd64-unicode
  !else
    !define /redef _KX_BITS x86
    !define /redef _KX_OTHER x64
    !ifdef NSIS_UNICODE
      !define /redef _KX_TARGET x86-unicode
    !else
      !define /redef _KX_TARGET x86-ansi
    !endif
  !endif
  !if /FileExists "${_KX_F}/${_KX_BITS}/bin/KX_Pellam.dll"
    !define _KX_DLLS "${_KX_F}/${_KX_BITS}/bin"
  !else if /FileExists "${_KX_F}/${_KX_BITS}/KX_Pellam.dll"
    !define _KX_DLLS "${_KX_F}/${_KX_BITS}"
  !else
    !define _KX_DLLS "${_KX_F}"
    !searchreplace _KX_PATH "/${_KX_F}/" "\" "/"
    !searchparse /noerrors /ignorecase "${_KX_PATH}" "/${_KX_OTHER}/" _KX_WRONG
    !ifdef _KX_WRONG
      !error "KX_Load: ${_KX_F} holds ${_KX_OTHER} DLLs; an installer for ${_KX_TARGET} needs the ${_KX_BITS} ones"
    !endif
    !undef _KX_PATH
    !if /FileExists "${_KX_F}/KX_Pellam.dll"
    !else
      !error "KX_Load: no KX_Pellam.dll in ${_KX_F}, nor in its ${_KX_BITS} folder (target ${_KX_TARGET})"
    !endif
  !endif
!macroend

; Takes a predicate's answer off the stack and jumps as LogicLib asks.
!macro _KX_Test _KX_T _KX_F
  !insertmacro _KX_Var _KX_L
  Pop $_KX_L
  StrCmp $_KX_L 1 `${_KX_T}` `${_KX_F}`
!macroend

; A literal with a backtick splits into more parameters than this takes,
; and makensis's error then names it.
!macro KX_literal_holds_a_backtick...put_the_text_in_a_variable_and_pass_that _KX_V
!macroend

!macro _KX_NoDot _KX_NAME _KX_V
  !searchparse /noerrors `|${_KX_V}` `|.` _KX_DOTTED
  !ifdef _KX_DOTTED
    !error "${_KX_NAME}: give the extension without its dot, `${_KX_DOTTED}` rather than `${_KX_V}`"
  !endif
!macroend

; Loads KX_Pellam.dll for one call, or goes to the refusal.
!macro _KX_Enter
  ${CallArtificialFunction} _KX_Handle
  Pop $_KX_H
  StrCmp $_KX_H 0 _kx_${_KX_U}_unloaded
!macroend
!macro _KX_Handle
  StrCmp $KX_Folder "" 0 +3
  Push 0
  Return
  Push "$KX_Folder\KX_Pellam.dll"
  System::Call 'kernel32::LoadLibraryEx(t s, p 0, i 0x8) p .s'
!macroend

; Pushes a block holding the text, or 0 for :null.
!macro _KX_Text _KX_V _KX_N
  Push `${_KX_V}`
  ${CallArtificialFunction} _KX_Block
!macroend
!macro _KX_Block
  !insertmacro _KX_Var _KX_B
  Pop $_KX_B
  StrCmpS $_KX_B ":null" 0 +3
  Push 0
  Return
  Push $_KX_B
  System::Call '*(&t${NSIS_MAX_STRLEN} s) p .s'
!macroend

; Pushes a block holding the filter list with its '|' turned into NULs and a
; second NUL at its end, or 0 for :null. The cursor lives in the result
; variable _KX_C, which gets its value back before any other argument is read.
!macro _KX_Filter _KX_V _KX_C _KX_N
  StrCmpS `${_KX_V}` ":null" 0 _kx_${_KX_U}_text${_KX_N}
  Push 0
  Goto _kx_${_KX_U}_pushed${_KX_N}
  _kx_${_KX_U}_text${_KX_N}:
  Push `${_KX_V}`
  System::Call '*(&t${NSIS_MAX_STRLEN} s, &i2 0) p .s'
  Exch ${_KX_C}
  Push ${_KX_C}
  _kx_${_KX_U}_bar${_KX_N}:
  !ifdef NSIS_UNICODE
  System::Call 'shlwapi::StrChrW(p ${_KX_C}, i 124) p .s'
  !else
  System::Call 'shlwapi::StrChrA(p ${_KX_C}, i 124) p .s'
  !endif
  Pop ${_KX_C}
  StrCmp ${_KX_C} 0 _kx_${_KX_U}_ended${_KX_N}
  !ifdef NSIS_UNICODE
  System::Call '*${_KX_C}(&i2 0)'
  IntPtrOp ${_KX_C} ${_KX_C} + 2
  !else
  System::Call '*${_KX_C}(&i1 0)'
  IntPtrOp ${_KX_C} ${_KX_C} + 1
  !endif
  Goto _kx_${_KX_U}_bar${_KX_N}
  _kx_${_KX_U}_ended${_KX_N}:
  Exch
  Pop ${_KX_C}
  _kx_${_KX_U}_pushed${_KX_N}:
!macroend
)nsh";

}  // namespace

// generate_nsh OUTPUT: writes the include to OUTPUT, or leaves no file at all.
int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: generate_nsh OUTPUT\n");
    return 2;
  }
  if (std::freopen(argv[1], "w", stdout) == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::printf("%s", kPrologue);
  std::vector<Row> rows = catalogue();
  for (const Row& r : rows) {
    if (!emit(r)) {
      std::fprintf(stderr, "generate_nsh: cannot write the macro of %s\n", r.base.c_str());
      std::fclose(stdout);
      std::remove(argv[1]);
      return 1;
    }
  }
  emit_at_least(rows);
  std::printf("\n!verbose pop\n!endif ; KX_PELLAM_NSH_INCLUDED\n");
  if (std::fclose(stdout) != 0) {
    std::remove(argv[1]);
    return 1;
  }
  return 0;
}
