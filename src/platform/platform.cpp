// Platform identification. Every answer is read afresh from the system: the
// predicates are cheap, and a cached answer would hide a compatibility shim
// that changes what the process is told.
#include <windows.h>

#include "KX_Pellam.h"
#include "kx/twins.h"

// The record sizes below are what the platform checks dwOSVersionInfoSize
// against; both builds must agree with them.
static_assert(sizeof(OSVERSIONINFOEXW) == 284, "OSVERSIONINFOEXW must be 284 bytes");
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "OSVERSIONINFOEXA must be 156 bytes");

namespace {

struct VersionW : kx::Wide {
  using Record = OSVERSIONINFOEXW;
  static BOOL read(Record* r) noexcept { return ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(r)); }
  static BOOL verify(Record* r, DWORD type, DWORDLONG conditions) noexcept {
    return ::VerifyVersionInfoW(r, type, conditions);
  }
  static int product_type() noexcept { return KX_QueryProductTypeW(); }
};

struct VersionA : kx::Narrow {
  using Record = OSVERSIONINFOEXA;
  static BOOL read(Record* r) noexcept { return ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(r)); }
  static BOOL verify(Record* r, DWORD type, DWORDLONG conditions) noexcept {
    return ::VerifyVersionInfoA(r, type, conditions);
  }
  static int product_type() noexcept { return KX_QueryProductTypeA(); }
};

enum ProductClass { kWorkstation = 0, kServer = 1 };
enum Edition { k32Bit = 0, k64Bit = 1 };
enum Suite { kAnySuite, kHomeServerSet, kHomeServerClear };

constexpr int kAnyServicePack = -1;

template <class T>
typename T::Record fresh_record() noexcept {
  typename T::Record r;
  ZeroMemory(&r, sizeof r);
  r.dwOSVersionInfoSize = sizeof r;
  return r;
}

// The read's result is deliberately not tested: a failed read leaves the
// zeroed record, which no predicate matches.
template <class T>
typename T::Record read_version() noexcept {
  typename T::Record r = fresh_record<T>();
  T::read(&r);
  return r;
}

bool product_matches(int product_class, int product_type) noexcept {
  switch (product_class) {
    case kWorkstation: return product_type == VER_NT_WORKSTATION;
    case kServer: return product_type == VER_NT_SERVER;
    default: return false;
  }
}

bool edition_matches(int edition) noexcept {
  const int arch = KX_QueryArchitecture();
  switch (edition) {
    case k32Bit: return arch == 0;
    case k64Bit: return arch == 1 || arch == 2;
    default: return false;
  }
}

template <class T>
bool home_server() noexcept {
  return (read_version<T>().wSuiteMask & VER_SUITE_WH_SERVER) != 0;
}

template <class T>
bool suite_matches(Suite suite) noexcept {
  switch (suite) {
    case kHomeServerSet: return home_server<T>();
    case kHomeServerClear: return !home_server<T>();
    default: return true;
  }
}

template <class T>
int exact(DWORD major, DWORD minor, int service_pack, int product_class, int edition, Suite suite) noexcept {
  const typename T::Record r = read_version<T>();
  if (r.dwMajorVersion != major || r.dwMinorVersion != minor) return 0;
  if (service_pack != kAnyServicePack && static_cast<int>(r.wServicePackMajor) != service_pack) return 0;
  if (!product_matches(product_class, T::product_type())) return 0;
  if (!edition_matches(edition)) return 0;
  return suite_matches<T>(suite) ? 1 : 0;
}

// Leaves the ordering of major, minor and service pack to the platform, which
// weighs them as one version, most significant first.
// Flattened: the edition and suite tests, KX_QueryArchitecture among them,
// are compiled into the one body instead of being reached through three
// more calls, each with its frame and (the architecture query's) its own
// canary check. The platform calls and their order are the same; the
// 32-bit predicate then runs the hand-written sequence's instructions plus
// its export's few.
template <class T>
[[gnu::flatten]] int minimum(DWORD major, DWORD minor, int service_pack, int product_class, int edition, Suite suite) noexcept {
  typename T::Record r = fresh_record<T>();
  r.dwMajorVersion = major;
  r.dwMinorVersion = minor;
  DWORDLONG conditions = 0;
  conditions = ::VerSetConditionMask(conditions, VER_MAJORVERSION, VER_GREATER_EQUAL);
  conditions = ::VerSetConditionMask(conditions, VER_MINORVERSION, VER_GREATER_EQUAL);
  DWORD type = VER_MAJORVERSION | VER_MINORVERSION;
  if (service_pack != kAnyServicePack) {
    r.wServicePackMajor = static_cast<WORD>(service_pack);
    conditions = ::VerSetConditionMask(conditions, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    type |= VER_SERVICEPACKMAJOR;
  }
  r.wProductType = product_class != kWorkstation ? VER_NT_SERVER : VER_NT_WORKSTATION;
  conditions = ::VerSetConditionMask(conditions, VER_PRODUCT_TYPE, VER_EQUAL);
  type |= VER_PRODUCT_TYPE;
  if (!T::verify(&r, type, conditions)) return 0;
  if (!edition_matches(edition)) return 0;
  return suite_matches<T>(suite) ? 1 : 0;
}

// Looked up at run time: neither entry exists on the oldest systems the
// library still identifies.
FARPROC kernel_entry(const char* name) noexcept {
  const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  return kernel != nullptr ? ::GetProcAddress(kernel, name) : nullptr;
}

}  // namespace

#define KX_PLATFORM_PAIR(name, test, major, minor, product_class, edition, suite)            \
  extern "C" int WINAPI name##W(int service_pack) {                                        \
    return test<VersionW>(major, minor, service_pack, product_class, edition, suite);      \
  }                                                                                        \
  extern "C" int WINAPI name##A(int service_pack) {                                        \
    return test<VersionA>(major, minor, service_pack, product_class, edition, suite);      \
  }

KX_PLATFORM_PAIR(KX_IsPlatform2000, exact, 5, 0, kWorkstation, k32Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatformXP, exact, 5, 1, kWorkstation, k32Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatformXP_x64, exact, 5, 2, kWorkstation, k64Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatformVista, exact, 6, 0, kWorkstation, k32Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatformVista_x64, exact, 6, 0, kWorkstation, k64Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatform7, exact, 6, 1, kWorkstation, k32Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatform7_x64, exact, 6, 1, kWorkstation, k64Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatform2000Server, exact, 5, 0, kServer, k32Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatform2003Server, exact, 5, 2, kServer, k32Bit, kHomeServerClear)
KX_PLATFORM_PAIR(KX_IsPlatform2003Server_x64, exact, 5, 2, kServer, k64Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatformHomeServer, exact, 5, 2, kServer, k32Bit, kHomeServerSet)
KX_PLATFORM_PAIR(KX_IsPlatformHomeServer2011, exact, 5, 3, kServer, k32Bit, kHomeServerSet)
KX_PLATFORM_PAIR(KX_IsPlatform2008Server, exact, 6, 0, kServer, k32Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatform2008Server_x64, exact, 6, 0, kServer, k64Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatform2008R2Server, exact, 6, 1, kServer, k64Bit, kAnySuite)

KX_PLATFORM_PAIR(KX_IsPlatform2000_Later, minimum, 5, 0, kWorkstation, k32Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatformXP_Later, minimum, 5, 1, kWorkstation, k32Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatformXP_x64_Later, minimum, 5, 2, kWorkstation, k64Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatformVista_Later, minimum, 6, 0, kWorkstation, k32Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatformVista_x64_Later, minimum, 6, 0, kWorkstation, k64Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatform7_Later, minimum, 6, 1, kWorkstation, k32Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatform7_x64_Later, minimum, 6, 1, kWorkstation, k64Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatform2000Server_Later, minimum, 5, 0, kServer, k32Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatform2003Server_Later, minimum, 5, 2, kServer, k32Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatform2003Server_x64_Later, minimum, 5, 2, kServer, k64Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatformHomeServer_Later, minimum, 5, 2, kServer, k32Bit, kHomeServerSet)
KX_PLATFORM_PAIR(KX_IsPlatformHomeServer2011_Later, minimum, 5, 3, kServer, k32Bit, kHomeServerSet)
KX_PLATFORM_PAIR(KX_IsPlatform2008Server_Later, minimum, 6, 0, kServer, k32Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatform2008Server_x64_Later, minimum, 6, 0, kServer, k64Bit, kAnySuite)
KX_PLATFORM_PAIR(KX_IsPlatform2008R2Server_Later, minimum, 6, 1, kServer, k64Bit, kAnySuite)

extern "C" int WINAPI KX_QueryArchitecture(void) {
  using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  using NativeInfoFn = void(WINAPI*)(LPSYSTEM_INFO);

  BOOL wow64 = FALSE;
  if (auto is_wow64 = reinterpret_cast<IsWow64Fn>(reinterpret_cast<void*>(kernel_entry("IsWow64Process")))) {
    BOOL state = FALSE;
    if (is_wow64(::GetCurrentProcess(), &state)) wow64 = state;
  }
  if (wow64) return 2;

  SYSTEM_INFO info;
  ZeroMemory(&info, sizeof info);
  if (auto native = reinterpret_cast<NativeInfoFn>(reinterpret_cast<void*>(kernel_entry("GetNativeSystemInfo")))) {
    native(&info);
  } else {
    ::GetSystemInfo(&info);
  }
  const WORD arch = info.wProcessorArchitecture;
  return arch == PROCESSOR_ARCHITECTURE_IA64 || arch == PROCESSOR_ARCHITECTURE_AMD64 ? 1 : 0;
}

extern "C" int WINAPI KX_QueryProductTypeW(void) { return read_version<VersionW>().wProductType; }
extern "C" int WINAPI KX_QueryProductTypeA(void) { return read_version<VersionA>().wProductType; }
