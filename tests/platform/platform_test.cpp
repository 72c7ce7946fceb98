// Platform identification, checked two ways: against the facts of the Windows
// versions Wine can present (RealSystem, run once per version by CTest), and
// against systems Wine cannot present, by standing in for the version and
// architecture sources through the import-table recorder (Presented).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KX_Pellam.h"
#include "platform_table.h"
#include "support/recorder.h"

namespace {

using kxtest::Facts;
using kxtest::predicate_rows;

const int kSelectors[] = {-1, 0, 1, 2, 3};

// Every predicate, both widths, every selector, against the table.
void expect_table(const Facts& facts) {
  for (const auto& row : predicate_rows()) {
    for (int sp : kSelectors) {
      const int want = kxtest::expected_answer(row, facts, sp);
      EXPECT_EQ(row.wide(sp), want) << row.name << "W(" << sp << ")";
      EXPECT_EQ(row.narrow(sp), want) << row.name << "A(" << sp << ")";
    }
  }
}

// ---------------------------------------------------------------------------
// The running Wine system.

Facts real_facts() {
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof v;
  GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v));
  Facts f;
  f.major = v.dwMajorVersion;
  f.minor = v.dwMinorVersion;
  f.service_pack = v.wServicePackMajor;
  f.suite = v.wSuiteMask;
  f.product_type = v.wProductType;
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  SYSTEM_INFO si{};
  GetNativeSystemInfo(&si);
  const bool native64 = si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
                        si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
  f.architecture = wow64 ? 2 : native64 ? 1 : 0;
  return f;
}

struct PresentedVersion {
  DWORD major, minor;
  WORD service_pack;
  BYTE product_type;
};
const std::map<std::string, PresentedVersion> kWineVersions = {
    {"winxp", {5, 1, 3, VER_NT_WORKSTATION}},  {"winxp64", {5, 2, 2, VER_NT_WORKSTATION}},
    {"win2003", {5, 2, 2, VER_NT_SERVER}},     {"win2008", {6, 0, 2, VER_NT_SERVER}},
    {"win7", {6, 1, 1, VER_NT_WORKSTATION}},   {"win2008r2", {6, 1, 1, VER_NT_SERVER}},
};

TEST(RealSystem, TheVersionAskedForIsTheOneThisProcessSees) {
  const char* asked = std::getenv("KX_EXPECT_WINDOWS");
  if (asked == nullptr) GTEST_SKIP() << "run by CTest once per Windows version";
  const auto it = kWineVersions.find(asked);
  ASSERT_NE(it, kWineVersions.end()) << asked;
  const Facts f = real_facts();
  EXPECT_EQ(f.major, it->second.major);
  EXPECT_EQ(f.minor, it->second.minor);
  EXPECT_EQ(f.service_pack, it->second.service_pack);
  // Wine 8.0 hands win7 the server type and win2008r2 the workstation type
  // (measured here), so only the versions above are pinned down; the table
  // test below runs against whichever type the process is given.
  if (f.major == 6 && f.minor == 1) {
    EXPECT_TRUE(f.product_type == VER_NT_WORKSTATION || f.product_type == VER_NT_SERVER);
  } else {
    EXPECT_EQ(f.product_type, it->second.product_type);
  }
}

TEST(RealSystem, EveryPredicateAgreesWithTheTableForTheseFacts) {
  const Facts f = real_facts();
  SCOPED_TRACE(testing::Message() << "facts " << f.major << "." << f.minor << " SP" << f.service_pack
                                  << " type " << int(f.product_type) << " arch " << f.architecture);
  expect_table(f);
}

TEST(RealSystem, QueriesReportThisProcessAndSystem) {
  const Facts f = real_facts();
  EXPECT_EQ(KX_QueryArchitecture(), f.architecture);
  EXPECT_EQ(KX_QueryArchitecture(), sizeof(void*) == 8 ? 1 : 2)
      << "a 64-bit process, or a 32-bit one under WoW64, on 64-bit Wine";
  EXPECT_EQ(KX_QueryProductTypeW(), f.product_type);
  EXPECT_EQ(KX_QueryProductTypeA(), f.product_type);
}

// On a 64-bit system no 32-bit-edition predicate may answer 1, whatever the
// version, also in a 32-bit process under WoW64: the file dialogs rely on
// KX_IsPlatform2000_Later* for this.
TEST(RealSystem, ThirtyTwoBitEditionPredicatesAnswerZeroOnA64BitSystem) {
  for (const auto& row : predicate_rows()) {
    if (row.x64) continue;
    EXPECT_EQ(row.wide(-1), 0) << row.name;
    EXPECT_EQ(row.narrow(-1), 0) << row.name;
  }
}

// ---------------------------------------------------------------------------
// Presented systems: the version record, WOW64 state and native architecture
// come from the test, through the recorder.

enum class Wow64Entry { kMissing, kFalse, kTrue, kFails };
enum class NativeEntry { kMissing, kX86, kAmd64, kIa64 };

struct Presented {
  Facts facts;
  bool read_fails = false;
  Wow64Entry wow64 = Wow64Entry::kFalse;
  NativeEntry native = NativeEntry::kX86;
  WORD legacy_architecture = PROCESSOR_ARCHITECTURE_INTEL;  // what GetSystemInfo reports
};

Presented g_presented;  // read by the fakes below, which have plain-function signatures

BOOL WINAPI fake_is_wow64(HANDLE, PBOOL out) {
  switch (g_presented.wow64) {
    case Wow64Entry::kTrue: *out = TRUE; return TRUE;
    case Wow64Entry::kFails: *out = TRUE; return FALSE;  // a failed call's out-value must not count
    default: *out = FALSE; return TRUE;
  }
}

void WINAPI fake_native_info(LPSYSTEM_INFO info) {
  static const WORD kArch[] = {0, PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_AMD64,
                               PROCESSOR_ARCHITECTURE_IA64};
  std::memset(info, 0, sizeof *info);
  info->wProcessorArchitecture = kArch[static_cast<int>(g_presented.native)];
}

template <class Record>
void fill_record(Record* r) {
  r->dwMajorVersion = g_presented.facts.major;
  r->dwMinorVersion = g_presented.facts.minor;
  r->wServicePackMajor = g_presented.facts.service_pack;
  r->wSuiteMask = g_presented.facts.suite;
  r->wProductType = g_presented.facts.product_type;
}

// The platform's comparison for the masks the minimum test uses: major, minor
// and service pack as one version, most significant first; product type equal.
template <class Record>
BOOL model_verify(const Record* r, DWORD type) {
  const Facts& f = g_presented.facts;
  if (g_presented.read_fails) return FALSE;
  DWORD have[3] = {f.major, f.minor, f.service_pack};
  DWORD want[3] = {r->dwMajorVersion, r->dwMinorVersion, r->wServicePackMajor};
  const int parts = (type & VER_SERVICEPACKMAJOR) ? 3 : 2;
  for (int i = 0; i < parts; ++i) {
    if (have[i] != want[i]) {
      if (have[i] < want[i]) return FALSE;
      break;
    }
  }
  if ((type & VER_PRODUCT_TYPE) && f.product_type != r->wProductType) return FALSE;
  return TRUE;
}

struct VerifyCall {
  std::vector<BYTE> record;
  DWORD type;
  DWORDLONG conditions;
};

class Presentation : public ::testing::Test {
 protected:
  void SetUp() override {
    rec_ = std::make_unique<kxtest::Recorder>(GetModuleHandleW(L"KX_Pellam.dll"));
    auto& gvw = rec_->hook<decltype(GetVersionExW)>("kernel32.dll", "GetVersionExW");
    gvw.script = [this](LPOSVERSIONINFOW p) -> std::optional<BOOL> {
      read_records_w_.emplace_back(reinterpret_cast<BYTE*>(p), reinterpret_cast<BYTE*>(p) + p->dwOSVersionInfoSize);
      if (g_presented.read_fails) return FALSE;
      fill_record(reinterpret_cast<OSVERSIONINFOEXW*>(p));
      return TRUE;
    };
    auto& gva = rec_->hook<decltype(GetVersionExA)>("kernel32.dll", "GetVersionExA");
    gva.script = [this](LPOSVERSIONINFOA p) -> std::optional<BOOL> {
      read_records_a_.emplace_back(reinterpret_cast<BYTE*>(p), reinterpret_cast<BYTE*>(p) + p->dwOSVersionInfoSize);
      if (g_presented.read_fails) return FALSE;
      fill_record(reinterpret_cast<OSVERSIONINFOEXA*>(p));
      return TRUE;
    };
    auto& vvw = rec_->hook<decltype(VerifyVersionInfoW)>("kernel32.dll", "VerifyVersionInfoW");
    verify_hook_w_ = &vvw;
    vvw.script = [this](LPOSVERSIONINFOEXW r, DWORD type, DWORDLONG cond) -> std::optional<BOOL> {
      verify_w_.push_back({std::vector<BYTE>(reinterpret_cast<BYTE*>(r), reinterpret_cast<BYTE*>(r) + sizeof *r), type, cond});
      return model_verify(r, type);
    };
    auto& vva = rec_->hook<decltype(VerifyVersionInfoA)>("kernel32.dll", "VerifyVersionInfoA");
    vva.script = [this](LPOSVERSIONINFOEXA r, DWORD type, DWORDLONG cond) -> std::optional<BOOL> {
      verify_a_.push_back({std::vector<BYTE>(reinterpret_cast<BYTE*>(r), reinterpret_cast<BYTE*>(r) + sizeof *r), type, cond});
      return model_verify(r, type);
    };
    auto& gpa = rec_->hook<decltype(GetProcAddress)>("kernel32.dll", "GetProcAddress");
    lookup_ = &gpa;
    gpa.script = [](HMODULE, LPCSTR name) -> std::optional<FARPROC> {
      if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) == 0) return std::nullopt;
      if (std::strcmp(name, "IsWow64Process") == 0)
        return g_presented.wow64 == Wow64Entry::kMissing ? nullptr : reinterpret_cast<FARPROC>(reinterpret_cast<void*>(fake_is_wow64));
      if (std::strcmp(name, "GetNativeSystemInfo") == 0)
        return g_presented.native == NativeEntry::kMissing ? nullptr : reinterpret_cast<FARPROC>(reinterpret_cast<void*>(fake_native_info));
      return std::nullopt;
    };
    auto& gsi = rec_->hook<decltype(GetSystemInfo)>("kernel32.dll", "GetSystemInfo");
    legacy_ = &gsi;
    gsi.script = [](LPSYSTEM_INFO info) {
      std::memset(info, 0, sizeof *info);
      info->wProcessorArchitecture = g_presented.legacy_architecture;
      return true;
    };
    mask_ = &rec_->hook<decltype(VerSetConditionMask)>("kernel32.dll", "VerSetConditionMask");
    module_ = &rec_->hook<decltype(GetModuleHandleA)>("kernel32.dll", "GetModuleHandleA");
  }
  void TearDown() override { rec_.reset(); }

  void present(DWORD major, DWORD minor, WORD sp, BYTE type, WORD suite, int architecture) {
    g_presented = Presented{};
    g_presented.facts = Facts{major, minor, sp, suite, type, architecture};
    g_presented.wow64 = architecture == 2 ? Wow64Entry::kTrue : Wow64Entry::kFalse;
    g_presented.native = architecture == 0 ? NativeEntry::kX86 : NativeEntry::kAmd64;
  }

  std::unique_ptr<kxtest::Recorder> rec_;
  std::vector<std::vector<BYTE>> read_records_w_, read_records_a_;
  std::vector<VerifyCall> verify_w_, verify_a_;
  kxtest::Hook<decltype(VerifyVersionInfoW)>* verify_hook_w_ = nullptr;
  kxtest::Hook<decltype(GetProcAddress)>* lookup_ = nullptr;
  kxtest::Hook<decltype(GetSystemInfo)>* legacy_ = nullptr;
  kxtest::Hook<decltype(VerSetConditionMask)>* mask_ = nullptr;
  kxtest::Hook<decltype(GetModuleHandleA)>* module_ = nullptr;
};

TEST_F(Presentation, ThirtyTwoBitProcessOnA64BitWindows7) {
  present(6, 1, 1, VER_NT_WORKSTATION, 0, 2);
  EXPECT_EQ(KX_QueryArchitecture(), 2);
  EXPECT_EQ(KX_IsPlatform7_x64W(-1), 1);
  EXPECT_EQ(KX_IsPlatformVista_x64_LaterW(-1), 1);
  EXPECT_EQ(KX_IsPlatform7W(-1), 0);
  EXPECT_EQ(KX_IsPlatformXP_LaterW(-1), 0);
  expect_table(g_presented.facts);
}

TEST_F(Presentation, ThirtyTwoBitWindows7ServicePack1) {
  present(6, 1, 1, VER_NT_WORKSTATION, 0, 0);
  EXPECT_EQ(KX_QueryArchitecture(), 0);
  EXPECT_EQ(KX_IsPlatform7W(1), 1);
  EXPECT_EQ(KX_IsPlatform7W(-1), 1);
  EXPECT_EQ(KX_IsPlatform7W(0), 0);
  EXPECT_EQ(KX_IsPlatformXP_LaterW(3), 1) << "a higher major version outweighs the service pack";
  EXPECT_EQ(KX_IsPlatform7_LaterW(2), 0);
  EXPECT_EQ(KX_IsPlatform2000_LaterW(-1), 1);
  expect_table(g_presented.facts);
}

TEST_F(Presentation, ServicePackZeroIsExactForExactAndAnyForMinimum) {
  present(5, 1, 2, VER_NT_WORKSTATION, 0, 0);
  EXPECT_EQ(KX_IsPlatformXPW(0), 0);
  EXPECT_EQ(KX_IsPlatformXP_LaterW(0), 1);
  present(5, 1, 0, VER_NT_WORKSTATION, 0, 0);
  EXPECT_EQ(KX_IsPlatformXPW(0), 1);
  expect_table(g_presented.facts);
}

TEST_F(Presentation, HomeServerSuiteBit) {
  present(5, 2, 2, VER_NT_SERVER, VER_SUITE_WH_SERVER, 0);
  EXPECT_EQ(KX_IsPlatformHomeServerW(-1), 1);
  EXPECT_EQ(KX_IsPlatform2003Server_LaterW(-1), 1);
  EXPECT_EQ(KX_IsPlatform2003ServerW(-1), 0);
  EXPECT_EQ(KX_IsPlatformHomeServer2011W(-1), 0);
  expect_table(g_presented.facts);

  present(6, 1, 1, VER_NT_SERVER, VER_SUITE_WH_SERVER, 1);
  EXPECT_EQ(KX_IsPlatformHomeServer2011W(-1), 0);
  EXPECT_EQ(KX_IsPlatform2008R2ServerW(-1), 1);
  expect_table(g_presented.facts);

  present(5, 3, 0, VER_NT_SERVER, VER_SUITE_WH_SERVER, 0);
  EXPECT_EQ(KX_IsPlatformHomeServer2011W(-1), 1);
  EXPECT_EQ(KX_IsPlatformHomeServer2011A(-1), 1);
  expect_table(g_presented.facts);
}

TEST_F(Presentation, SixtyFourBitXpIsAWorkstation) {
  present(5, 2, 2, VER_NT_WORKSTATION, 0, 1);
  EXPECT_EQ(KX_IsPlatformXP_x64W(-1), 1);
  EXPECT_EQ(KX_IsPlatform2003Server_x64W(-1), 0);
  EXPECT_EQ(KX_IsPlatformXPW(-1), 0);
  expect_table(g_presented.facts);
}

TEST_F(Presentation, DomainControllerMatchesNothing) {
  for (int arch : {0, 1}) {
    present(6, 1, 1, VER_NT_DOMAIN_CONTROLLER, 0, arch);
    EXPECT_EQ(KX_QueryProductTypeW(), 2);
    EXPECT_EQ(KX_QueryProductTypeA(), 2);
    for (const auto& row : predicate_rows()) {
      for (int sp : kSelectors) {
        EXPECT_EQ(row.wide(sp), 0) << row.name;
        EXPECT_EQ(row.narrow(sp), 0) << row.name;
      }
    }
  }
}

TEST_F(Presentation, FailedVersionReadAnswersZero) {
  present(6, 1, 1, VER_NT_WORKSTATION, VER_SUITE_WH_SERVER, 0);
  g_presented.read_fails = true;
  EXPECT_EQ(KX_QueryProductTypeW(), 0);
  EXPECT_EQ(KX_QueryProductTypeA(), 0);
  for (const auto& row : predicate_rows()) {
    if (row.test != kxtest::Test::kExact) continue;
    EXPECT_EQ(row.wide(-1), 0) << row.name;
    EXPECT_EQ(row.narrow(-1), 0) << row.name;
  }
}

TEST_F(Presentation, ArchitectureWithoutTheRunTimeEntries) {
  present(5, 0, 4, VER_NT_WORKSTATION, 0, 0);
  g_presented.wow64 = Wow64Entry::kMissing;
  g_presented.native = NativeEntry::kMissing;
  g_presented.legacy_architecture = PROCESSOR_ARCHITECTURE_INTEL;
  auto& legacy = *legacy_;
  EXPECT_EQ(KX_QueryArchitecture(), 0);
  EXPECT_EQ(legacy.count(), 1u) << "without GetNativeSystemInfo the legacy call must answer";
  EXPECT_EQ(KX_IsPlatform2000W(4), 1);

  g_presented.legacy_architecture = PROCESSOR_ARCHITECTURE_AMD64;
  EXPECT_EQ(KX_QueryArchitecture(), 1);
  g_presented.native = NativeEntry::kIa64;
  legacy.calls.clear();
  EXPECT_EQ(KX_QueryArchitecture(), 1);
  EXPECT_EQ(legacy.count(), 0u) << "GetNativeSystemInfo, when present, is the only source";
}

TEST_F(Presentation, AFailedWow64QueryCountsAsNotWow64) {
  present(6, 1, 1, VER_NT_WORKSTATION, 0, 0);
  g_presented.wow64 = Wow64Entry::kFails;
  g_presented.native = NativeEntry::kX86;
  EXPECT_EQ(KX_QueryArchitecture(), 0);
  EXPECT_EQ(KX_IsPlatform7W(-1), 1);
}

TEST_F(Presentation, ArchitectureLooksUpKernelEntriesByNameForTheCurrentProcess) {
  present(6, 1, 1, VER_NT_WORKSTATION, 0, 1);
  rec_->clear();
  auto& module = *module_;
  auto& lookup = *lookup_;
  EXPECT_EQ(KX_QueryArchitecture(), 1);
  ASSERT_EQ(module.count(), 2u);
  for (const auto& call : module.calls) EXPECT_EQ(std::get<0>(call), std::optional<std::string>("kernel32.dll"));
  ASSERT_EQ(lookup.count(), 2u);
  EXPECT_EQ(std::get<1>(lookup.calls[0]), std::optional<std::string>("IsWow64Process"));
  EXPECT_EQ(std::get<1>(lookup.calls[1]), std::optional<std::string>("GetNativeSystemInfo"));
}

// What the platform receives: fresh records whose every unused byte is zero.
TEST_F(Presentation, VersionReadsHandOverAZeroedRecordOfTheRightSize) {
  present(6, 1, 1, VER_NT_WORKSTATION, 0, 0);
  KX_QueryProductTypeW();
  KX_QueryProductTypeA();
  ASSERT_EQ(read_records_w_.size(), 1u);
  ASSERT_EQ(read_records_a_.size(), 1u);
  ASSERT_EQ(read_records_w_[0].size(), 284u);
  ASSERT_EQ(read_records_a_[0].size(), 156u);
  for (size_t i = 4; i < 284; ++i) ASSERT_EQ(read_records_w_[0][i], 0) << "byte " << i;
  for (size_t i = 4; i < 156; ++i) ASSERT_EQ(read_records_a_[0][i], 0) << "byte " << i;
}

template <class Record>
std::vector<BYTE> expected_verify_record(DWORD major, DWORD minor, int sp, BYTE type) {
  Record r;
  std::memset(&r, 0, sizeof r);
  r.dwOSVersionInfoSize = sizeof r;
  r.dwMajorVersion = major;
  r.dwMinorVersion = minor;
  if (sp != -1) r.wServicePackMajor = static_cast<WORD>(sp);
  r.wProductType = type;
  return std::vector<BYTE>(reinterpret_cast<BYTE*>(&r), reinterpret_cast<BYTE*>(&r) + sizeof r);
}

TEST_F(Presentation, MinimumTestHandsThePlatformTheRecordMasksAndConditionOrder) {
  present(6, 1, 1, VER_NT_WORKSTATION, 0, 0);
  auto& mask = *mask_;

  mask.calls.clear();
  KX_IsPlatformVista_LaterW(-1);
  ASSERT_EQ(verify_w_.size(), 1u);
  EXPECT_EQ(verify_w_[0].record, (expected_verify_record<OSVERSIONINFOEXW>(6, 0, -1, VER_NT_WORKSTATION)));
  EXPECT_EQ(verify_w_[0].type, 0x83u);
  ASSERT_EQ(mask.count(), 3u);
  const std::pair<DWORD, BYTE> order3[] = {{VER_MAJORVERSION, VER_GREATER_EQUAL},
                                           {VER_MINORVERSION, VER_GREATER_EQUAL},
                                           {VER_PRODUCT_TYPE, VER_EQUAL}};
  DWORDLONG chained = 0;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(std::get<0>(mask.calls[i]), chained) << "each step extends the previous mask";
    EXPECT_EQ(std::get<1>(mask.calls[i]), order3[i].first) << i;
    EXPECT_EQ(std::get<2>(mask.calls[i]), order3[i].second) << i;
    chained = VerSetConditionMask(chained, order3[i].first, order3[i].second);
  }
  EXPECT_EQ(verify_w_[0].conditions, chained);

  mask.calls.clear();
  KX_IsPlatform2008Server_LaterA(2);
  ASSERT_EQ(verify_a_.size(), 1u);
  EXPECT_EQ(verify_a_[0].record, (expected_verify_record<OSVERSIONINFOEXA>(6, 0, 2, VER_NT_SERVER)));
  EXPECT_EQ(verify_a_[0].type, 0xA3u);
  ASSERT_EQ(mask.count(), 4u);
  const std::pair<DWORD, BYTE> order4[] = {{VER_MAJORVERSION, VER_GREATER_EQUAL},
                                           {VER_MINORVERSION, VER_GREATER_EQUAL},
                                           {VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL},
                                           {VER_PRODUCT_TYPE, VER_EQUAL}};
  chained = 0;
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(std::get<1>(mask.calls[i]), order4[i].first) << i;
    EXPECT_EQ(std::get<2>(mask.calls[i]), order4[i].second) << i;
    chained = VerSetConditionMask(chained, order4[i].first, order4[i].second);
  }
  EXPECT_EQ(verify_a_[0].conditions, chained);
}

// A refusal from the platform, for a mismatch or an error, is a plain 0.
TEST_F(Presentation, APlatformRefusalEndsTheMinimumTest) {
  present(10, 0, 0, VER_NT_WORKSTATION, 0, 0);
  verify_hook_w_->script = [](LPOSVERSIONINFOEXW, DWORD, DWORDLONG) -> std::optional<BOOL> { return FALSE; };
  EXPECT_EQ(KX_IsPlatform2000_LaterW(-1), 0);
}

// The exact test asks for the version, then the product type, then the
// architecture, then the suite: each fact afresh, nothing cached.
TEST_F(Presentation, ExactTestReadsEachFactAfresh) {
  present(5, 2, 2, VER_NT_SERVER, VER_SUITE_WH_SERVER, 0);
  rec_->clear();
  EXPECT_EQ(KX_IsPlatformHomeServerW(-1), 1);
  std::vector<std::string> reads;
  for (const auto& name : rec_->order())
    if (name == "GetVersionExW" || name == "GetProcAddress") reads.push_back(name);
  const std::vector<std::string> expected = {"GetVersionExW", "GetVersionExW", "GetProcAddress", "GetProcAddress",
                                             "GetVersionExW"};
  EXPECT_EQ(reads, expected);
}

}  // namespace
