// KX_Pellam from a caller's side: an installer round trip of a pretend
// product (install, then uninstall, each step proved from outside the
// library), and tours of the other families behind --tour.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "KX_Pellam.h"
#include "round_trip.h"

// Tours defined in the other files of this folder.
void show_desktop();
void show_folders();
void show_dialogs(bool person_present);
void show_sound();
void show_kxcall();

namespace {

struct Predicate {
  const char* name;
  int(WINAPI* wide)(int);
};

#define KX_PREDICATE(n) {#n "W", n##W}
const Predicate kPredicates[] = {
    KX_PREDICATE(KX_IsPlatform2000),          KX_PREDICATE(KX_IsPlatformXP),
    KX_PREDICATE(KX_IsPlatformXP_x64),        KX_PREDICATE(KX_IsPlatformVista),
    KX_PREDICATE(KX_IsPlatformVista_x64),     KX_PREDICATE(KX_IsPlatform7),
    KX_PREDICATE(KX_IsPlatform7_x64),         KX_PREDICATE(KX_IsPlatform2000Server),
    KX_PREDICATE(KX_IsPlatform2003Server),    KX_PREDICATE(KX_IsPlatform2003Server_x64),
    KX_PREDICATE(KX_IsPlatformHomeServer),    KX_PREDICATE(KX_IsPlatformHomeServer2011),
    KX_PREDICATE(KX_IsPlatform2008Server),    KX_PREDICATE(KX_IsPlatform2008Server_x64),
    KX_PREDICATE(KX_IsPlatform2008R2Server),  KX_PREDICATE(KX_IsPlatform2000_Later),
    KX_PREDICATE(KX_IsPlatformXP_Later),      KX_PREDICATE(KX_IsPlatformXP_x64_Later),
    KX_PREDICATE(KX_IsPlatformVista_Later),   KX_PREDICATE(KX_IsPlatformVista_x64_Later),
    KX_PREDICATE(KX_IsPlatform7_Later),       KX_PREDICATE(KX_IsPlatform7_x64_Later),
    KX_PREDICATE(KX_IsPlatform2000Server_Later), KX_PREDICATE(KX_IsPlatform2003Server_Later),
    KX_PREDICATE(KX_IsPlatform2003Server_x64_Later), KX_PREDICATE(KX_IsPlatformHomeServer_Later),
    KX_PREDICATE(KX_IsPlatformHomeServer2011_Later), KX_PREDICATE(KX_IsPlatform2008Server_Later),
    KX_PREDICATE(KX_IsPlatform2008Server_x64_Later), KX_PREDICATE(KX_IsPlatform2008R2Server_Later),
};
#undef KX_PREDICATE

void show_platform() {
  static const char* const kArchitecture[] = {"32-bit system", "64-bit process on a 64-bit system",
                                              "32-bit process on a 64-bit system (WOW64)"};
  static const char* const kProduct[] = {"unknown", "workstation", "domain controller", "server"};
  const int arch = KX_QueryArchitecture();
  const int product = KX_QueryProductTypeW();
  std::printf("-- Platform\n");
  std::printf("   KX_QueryArchitecture() = %d (%s), KX_QueryProductTypeW() = %d (%s)\n", arch,
              arch >= 0 && arch <= 2 ? kArchitecture[arch] : "?", product,
              product >= 0 && product <= 3 ? kProduct[product] : "?");
  std::printf("   KX_IsPlatform*W(-1) answering 1:");
  int column = 0, matches = 0;
  for (const Predicate& p : kPredicates) {
    if (p.wide(-1) != 1) continue;
    const char* name = p.name + 13;  // between "KX_IsPlatform" and "W"
    const int length = static_cast<int>(std::strlen(name)) - 1;
    if (column > 0 && column + length > 62) {
      std::printf("\n                                   ");
      column = 0;
    }
    std::printf(" %.*s", length, name);
    column += length + 1;
    ++matches;
  }
  std::printf(matches ? "\n" : " none\n");
}

bool is(const wchar_t* arg, const wchar_t* word) { return arg != nullptr && lstrcmpW(arg, word) == 0; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const wchar_t* mode = argc > 1 ? argv[1] : nullptr;
  // Started by the shell as the installed program (kxnotes.exe).
  if (is(mode, L"open") || is(mode, L"hello")) return demo::program_mode(argc, argv);
  // The tours of the other families; with --dialogs a person answers the dialogs.
  if (is(mode, L"--tour") || is(mode, L"--dialogs")) {
    show_folders();
    show_dialogs(is(mode, L"--dialogs") || (argc > 2 && is(argv[2], L"--dialogs")));
    show_desktop();
    show_sound();
    show_kxcall();
    return 0;
  }
  const bool install = mode == nullptr || is(mode, L"install");
  const bool uninstall = mode == nullptr || is(mode, L"uninstall");
  if (!install && !uninstall) {
    std::printf("usage: kx_demo [install | uninstall | --tour [--dialogs] | --dialogs]\n");
    return 2;
  }
  demo::Layout layout;
  if (!demo::compose(layout)) {
    std::printf("the product's folders cannot be composed here\n");
    return 1;
  }
  const int bits = static_cast<int>(sizeof(void*)) * 8;
  if (install) {
    std::printf("== Installing \"KX Sample Notes 1.0\" with the %d-bit KX_Pellam.dll\n", bits);
    show_platform();
    demo::install(layout);
  }
  if (uninstall) {
    std::printf("== Uninstalling \"KX Sample Notes 1.0\" with the %d-bit KX_Pellam.dll\n", bits);
    demo::uninstall(layout);
  }
  const int failed = demo::failures();
  std::printf(failed ? "== %d proof(s) FAILED\n" : "== every proof held\n", failed);
  return failed ? 1 : 0;
}
