// A tour of KX_Pellam from a caller's side: what the library says about the
// platform it runs on.
#include <windows.h>

#include <cstdio>

#include "KX_Pellam.h"

// Tours defined in the other files of this folder.
void show_desktop();
void show_file_types();
void show_folders();
void show_install();
void show_shared_dlls();
void show_shortcuts();
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
  std::printf("== Platform\n");
  std::printf("KX_QueryArchitecture()  = %d  (%s)\n", arch, arch >= 0 && arch <= 2 ? kArchitecture[arch] : "?");
  std::printf("KX_QueryProductTypeW()  = %d  (%s)\n", product, product >= 0 && product <= 3 ? kProduct[product] : "?");
  std::printf("Predicates answering 1 with servicePack = -1 (any service pack):\n");
  int matches = 0;
  for (const Predicate& p : kPredicates) {
    if (p.wide(-1) == 1) {
      std::printf("  %s(-1) = 1\n", p.name);
      ++matches;
    }
  }
  if (matches == 0) std::printf("  none\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // --dialogs: a person is there to answer the modal dialogs.
  const bool dialogs = argc > 1 && lstrcmpW(argv[1], L"--dialogs") == 0;
  show_platform();
  // Each tour below lives in its own file of this folder.
  show_install();
  show_file_types();
  show_folders();
  show_shared_dlls();
  show_shortcuts();
  show_dialogs(dialogs);
  show_desktop();
  show_sound();
  show_kxcall();
  return 0;
}
