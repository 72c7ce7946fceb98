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

// Pushes argument n's value, as the call pops it.
void push(Kind k, std::size_t n) {
  std::string v = "${" + param(n) + "}";
  switch (k) {
    case kxcall::s: std::printf("  !insertmacro _KX_Text `%s` %zu\n", v.c_str(), n); break;
    case kxcall::filter: std::printf("  !insertmacro _KX_Filter `%s` ${_KX_R} %zu\n", v.c_str(), n); break;
    case kxcall::buf:
    case kxcall::buf260:
    case kxcall::cap:
    case kxcall::outw:
    case kxcall::outi: break;
    case kxcall::io260:
    case kxcall::iocolour: std::printf("  Push %s\n", v.c_str()); break;
    case kxcall::recout: std::printf("  System::Call '*(i 0, i 0) p .s'\n"); break;
    case kxcall::recin:
      std::printf("  Push `${%s}`\n  Push `%s`\n  System::Call '*(i s, i s) p .s'\n", param(n, true).c_str(),
                  v.c_str());
      break;
    default: std::printf("  Push `%s`\n", v.c_str()); break;
  }
}

// Takes argument n's output off the stack after the call.
void pop(Kind k, std::size_t n) {
  std::string v = "${" + param(n) + "}";
  switch (k) {
    case kxcall::s:
    case kxcall::filter:
    case kxcall::recin: std::printf("  System::Call 'kernel32::GlobalFree(p s)'\n"); break;
    case kxcall::recout:
      std::printf("  Pop %s\n  System::Call '*%s(i .s, i .s)'\n  System::Call 'kernel32::GlobalFree(p %s)'\n"
                  "  Pop %s\n  Pop ${%s}\n",
                  v.c_str(), v.c_str(), v.c_str(), v.c_str(), param(n, true).c_str());
      break;
    default:
      if (writes_back(k)) std::printf("  Pop %s\n", v.c_str());
      break;
  }
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

  std::string params = r.result != kxcall::none ? " _KX_R" : "";
  for (std::size_t n = 1; n <= r.kinds.size(); ++n) {
    Kind k = r.kinds[n - 1];
    if (words(k) >= 1) params += " " + param(n);
    if (words(k) == 2) params += " " + param(n, true);
  }
  std::printf("!macro %s%s\n", r.base.c_str(), params.c_str());
  std::printf("  !define /redef _KX_U ${__COUNTER__}\n");
  std::printf("  !insertmacro _KX_Guard\n");
  for (std::size_t n = r.kinds.size(); n >= 1; --n) push(r.kinds[n - 1], n);

  std::string types;
  for (std::size_t n = 0; n < r.kinds.size(); ++n) types += (n ? ", " : "") + std::string(call_type(r.kinds[n]));
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
  if (r.result != kxcall::none) std::printf("  Pop ${_KX_R}\n");
  for (std::size_t n = 1; n <= r.kinds.size(); ++n) pop(r.kinds[n - 1], n);

  // Not loaded: every variable the macro would have set is emptied.
  std::printf("  Goto _kx_${_KX_U}_done\n  _kx_${_KX_U}_unloaded:\n  SetErrors\n");
  if (r.result != kxcall::none) std::printf("  StrCpy ${_KX_R} \"\"\n");
  for (std::size_t n = 1; n <= r.kinds.size(); ++n) {
    Kind k = r.kinds[n - 1];
    if (!writes_back(k)) continue;
    std::printf("  StrCpy ${%s} \"\"\n", param(n).c_str());
    if (words(k) == 2) std::printf("  StrCpy ${%s} \"\"\n", param(n, true).c_str());
  }
  std::printf("  _kx_${_KX_U}_done:\n  !undef _KX_U\n!macroend\n");
  std::printf("!define %s \"!insertmacro %s\"\n", r.base.c_str(), r.base.c_str());
  return true;
}

const char* const kPrologue = R"(; KX_Pellam.nsh: every export of KX_Pellam.dll and KX_Brindel.dll as an NSIS
; macro. Generated from kxcall's catalogue at build time; edit the catalogue,
; not this file.
;
;   !define KX_BIN "<folder with KX_Pellam.dll and KX_Brindel.dll>"
;   !include "KX_Pellam.nsh"
;   ${KX_Load} "${KX_BIN}"        ; or ${KX_LoadFrom} "$INSTDIR"
;   ${KX_GetProgramPath} $0 $1 "Maker" "Product"
;   ${KX_Unload}
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
;   The exact text :null passes a null pointer, as the contracts say. (A
;   literal typed into the script must not hold a backtick: the macros quote
;   with them. A variable holding one is fine.)
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
; - When the DLL is not loaded, a macro sets the error flag, empties its
;   result and output variables and calls nothing. When it is loaded, a macro
;   leaves the error flag alone.
; - Addresses from KX_SND_LoadSound stay allocated until KX_SND_DeleteSoundMemory.
; The contract lines below each usage line are those of `kxcall --help NAME`.

!ifndef KX_PELLAM_NSH_INCLUDED
!define KX_PELLAM_NSH_INCLUDED

; The module handle of the loaded KX_Pellam.dll; 0 or empty when not loaded.
Var KX_Module

; ${KX_Load} FOLDER: extracts both DLLs from FOLDER (known when the installer
; is compiled) into $PLUGINSDIR and loads them; the error flag is set when
; they cannot be loaded, and cleared when they are. Unload before the
; installer ends (e.g. in .onGUIEnd / un.onGUIEnd): a DLL still loaded keeps
; $PLUGINSDIR from being removed.
!macro KX_Load _KX_FOLDER
  !insertmacro KX_Unload
  InitPluginsDir
  File "/oname=$PLUGINSDIR\KX_Pellam.dll" "${_KX_FOLDER}/KX_Pellam.dll"
  File "/oname=$PLUGINSDIR\KX_Brindel.dll" "${_KX_FOLDER}/KX_Brindel.dll"
  !insertmacro _KX_LoadLibrary "$PLUGINSDIR"
!macroend
!define KX_Load "!insertmacro KX_Load"

; ${KX_LoadFrom} FOLDER: loads the DLLs already in FOLDER (e.g. $INSTDIR).
!macro KX_LoadFrom _KX_FOLDER
  !insertmacro KX_Unload
  !insertmacro _KX_LoadLibrary `${_KX_FOLDER}`
!macroend
!define KX_LoadFrom "!insertmacro KX_LoadFrom"

; ${KX_Unload}: frees the module; the call macros then refuse.
!macro KX_Unload
  !define /redef _KX_UNLOAD ${__COUNTER__}
  StrCmp $KX_Module "" _kx_${_KX_UNLOAD}_free
  StrCmp $KX_Module 0 _kx_${_KX_UNLOAD}_free
  System::Call 'kernel32::FreeLibrary(p $KX_Module)'
  _kx_${_KX_UNLOAD}_free:
  StrCpy $KX_Module 0
  !undef _KX_UNLOAD
!macroend
!define KX_Unload "!insertmacro KX_Unload"

; An installer's DLL search is kept to the system folder: the altered search
; path lets KX_Pellam.dll find KX_Brindel.dll beside it.
!macro _KX_LoadLibrary _KX_FOLDER
  Push `${_KX_FOLDER}\KX_Pellam.dll`
  System::Call 'kernel32::LoadLibraryEx(t s, p 0, i 0x8) p .s'
  Pop $KX_Module
  ClearErrors
  StrCmp $KX_Module 0 0 +2
  SetErrors
!macroend

!macro _KX_Guard
  StrCmp $KX_Module "" _kx_${_KX_U}_unloaded
  StrCmp $KX_Module 0 _kx_${_KX_U}_unloaded
!macroend

; Pushes a block holding the text, or 0 for :null.
!macro _KX_Text _KX_V _KX_N
  StrCmpS `${_KX_V}` ":null" 0 _kx_${_KX_U}_text${_KX_N}
  Push 0
  Goto _kx_${_KX_U}_pushed${_KX_N}
  _kx_${_KX_U}_text${_KX_N}:
  Push `${_KX_V}`
  System::Call '*(&t${NSIS_MAX_STRLEN} s) p .s'
  _kx_${_KX_U}_pushed${_KX_N}:
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
)";

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
  for (const Row& r : catalogue()) {
    if (!emit(r)) {
      std::fprintf(stderr, "generate_nsh: cannot write the macro of %s\n", r.base.c_str());
      std::fclose(stdout);
      std::remove(argv[1]);
      return 1;
    }
  }
  std::printf("\n!endif ; KX_PELLAM_NSH_INCLUDED\n");
  if (std::fclose(stdout) != 0) {
    std::remove(argv[1]);
    return 1;
  }
  return 0;
}
