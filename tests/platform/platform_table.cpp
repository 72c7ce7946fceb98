#include "platform_table.h"

#include <tuple>

#include "KX_Pellam.h"

namespace kxtest {

#define ROW(n, test, major, minor, server, x64, suite) \
  {#n, n##W, n##A, Test::test, major, minor, server, x64, SuiteRule::suite}

const std::vector<PredicateRow>& predicate_rows() {
  static const std::vector<PredicateRow> rows = {
      ROW(KX_IsPlatform2000, kExact, 5, 0, false, false, kAny),
      ROW(KX_IsPlatformXP, kExact, 5, 1, false, false, kAny),
      ROW(KX_IsPlatformXP_x64, kExact, 5, 2, false, true, kAny),
      ROW(KX_IsPlatformVista, kExact, 6, 0, false, false, kAny),
      ROW(KX_IsPlatformVista_x64, kExact, 6, 0, false, true, kAny),
      ROW(KX_IsPlatform7, kExact, 6, 1, false, false, kAny),
      ROW(KX_IsPlatform7_x64, kExact, 6, 1, false, true, kAny),
      ROW(KX_IsPlatform2000Server, kExact, 5, 0, true, false, kAny),
      ROW(KX_IsPlatform2003Server, kExact, 5, 2, true, false, kHomeServerClear),
      ROW(KX_IsPlatform2003Server_x64, kExact, 5, 2, true, true, kAny),
      ROW(KX_IsPlatformHomeServer, kExact, 5, 2, true, false, kHomeServerSet),
      ROW(KX_IsPlatformHomeServer2011, kExact, 5, 3, true, false, kHomeServerSet),
      ROW(KX_IsPlatform2008Server, kExact, 6, 0, true, false, kAny),
      ROW(KX_IsPlatform2008Server_x64, kExact, 6, 0, true, true, kAny),
      ROW(KX_IsPlatform2008R2Server, kExact, 6, 1, true, true, kAny),
      ROW(KX_IsPlatform2000_Later, kMinimum, 5, 0, false, false, kAny),
      ROW(KX_IsPlatformXP_Later, kMinimum, 5, 1, false, false, kAny),
      ROW(KX_IsPlatformXP_x64_Later, kMinimum, 5, 2, false, true, kAny),
      ROW(KX_IsPlatformVista_Later, kMinimum, 6, 0, false, false, kAny),
      ROW(KX_IsPlatformVista_x64_Later, kMinimum, 6, 0, false, true, kAny),
      ROW(KX_IsPlatform7_Later, kMinimum, 6, 1, false, false, kAny),
      ROW(KX_IsPlatform7_x64_Later, kMinimum, 6, 1, false, true, kAny),
      ROW(KX_IsPlatform2000Server_Later, kMinimum, 5, 0, true, false, kAny),
      ROW(KX_IsPlatform2003Server_Later, kMinimum, 5, 2, true, false, kAny),
      ROW(KX_IsPlatform2003Server_x64_Later, kMinimum, 5, 2, true, true, kAny),
      ROW(KX_IsPlatformHomeServer_Later, kMinimum, 5, 2, true, false, kHomeServerSet),
      ROW(KX_IsPlatformHomeServer2011_Later, kMinimum, 5, 3, true, false, kHomeServerSet),
      ROW(KX_IsPlatform2008Server_Later, kMinimum, 6, 0, true, false, kAny),
      ROW(KX_IsPlatform2008Server_x64_Later, kMinimum, 6, 0, true, true, kAny),
      ROW(KX_IsPlatform2008R2Server_Later, kMinimum, 6, 1, true, true, kAny),
  };
  return rows;
}

int expected_answer(const PredicateRow& row, const Facts& f, int sp) {
  bool version_ok;
  if (row.test == Test::kExact) {
    version_ok = f.major == row.major && f.minor == row.minor && (sp == -1 || f.service_pack == sp);
  } else if (sp == -1) {
    version_ok = std::tie(f.major, f.minor) >= std::tie(row.major, row.minor);
  } else {
    const DWORD asked_sp = static_cast<WORD>(sp);
    const DWORD have_sp = f.service_pack;
    version_ok = std::tie(f.major, f.minor, have_sp) >= std::tie(row.major, row.minor, asked_sp);
  }
  const bool product_ok = f.product_type == (row.server ? VER_NT_SERVER : VER_NT_WORKSTATION);
  const bool edition_ok = row.x64 ? (f.architecture == 1 || f.architecture == 2) : f.architecture == 0;
  const bool home = (f.suite & VER_SUITE_WH_SERVER) != 0;
  const bool suite_ok = row.suite == SuiteRule::kAny || (row.suite == SuiteRule::kHomeServerSet) == home;
  return version_ok && product_ok && edition_ok && suite_ok ? 1 : 0;
}

}  // namespace kxtest
