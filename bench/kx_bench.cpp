// kx_bench: what a call of the library costs over the same platform calls
// written by hand. For each representative export both versions run in this
// one process, alternating in short stretches (lib, hand, hand, lib, ...), so that
// drift and other load on the machine fall on both alike. The table gives the
// median time per call of each side and the median ratio of the pairs of
// stretches. Before any timing, both versions are run and must give the same
// results and outputs.
//
// An export is over the goal only when the whole 95% interval of its ratio
// lies above 1.02; a median alone reads the noise of the slow calls as cost.
// Rounds are added until the interval is ±3% of the ratio or narrower, or
// the export's time budget is spent (the row then says so).
//
// kx_bench.exe [--rounds N] [--round-ms N] [--budget-s N] [--control] [--only EXPORT]
//   --control puts the hand-written calls in both columns: the ratios it
//   prints are the measurement's own noise on this machine at this time.
#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "KX_Pellam.h"
#include "hand.h"

namespace {

// Everything a call may write, compared between the two versions.
struct Out {
  wchar_t text[MAX_PATH];
  wchar_t directory[MAX_PATH];
  wchar_t description[MAX_PATH];
  wchar_t icon[MAX_PATH];
  WORD hotkey;
  int show;
  int icon_index;
};

const wchar_t kAppFile[] = L"kx_bench_tool.exe";
const wchar_t kAppDir[] = L"C:\\Program Files\\KX Bench\\";
const wchar_t kAlias[] = L"kxbench";
wchar_t g_self[MAX_PATH];      // this program: the file with a version resource
wchar_t g_tone[MAX_PATH];      // a short wave file for MCI
wchar_t g_made[MAX_PATH];      // the shortcut the create rows write
wchar_t g_resolved[MAX_PATH];  // the shortcut the resolve rows read

struct Row {
  const char* name;
  int expect;                // the result both versions must give
  const wchar_t* text;       // what the main output must end with, if anything
  void (*before)();          // untimed, before each timed call
  void (*after)();           // untimed, after each timed call
  int (*lib)(Out&);
  int (*hand)(Out&);
};

void register_entry() { hand::regist_app_path(kAppFile, kAppDir); }
void open_device() { hand::mci_open(g_tone, kAlias); }
void close_device() { hand::mci_close(kAlias); }

const Row kRows[] = {
    {"KX_InstRegistAppPathW", 0, nullptr, nullptr, nullptr, [](Out&) { return KX_InstRegistAppPathW(kAppFile, kAppDir); },
     [](Out&) { return hand::regist_app_path(kAppFile, kAppDir); }},
    {"KX_InstQueryAppPathW", 0, kAppDir, nullptr, nullptr, [](Out& o) { return KX_InstQueryAppPathW(kAppFile, o.text); },
     [](Out& o) { return hand::query_app_path(kAppFile, o.text); }},
    {"KX_InstDeleteAppPathW", 0, nullptr, register_entry, nullptr, [](Out&) { return KX_InstDeleteAppPathW(kAppFile); },
     [](Out&) { return hand::delete_app_path(kAppFile); }},
    {"KX_GetAppDataPathW", 1, L"\\KX Software\\Bench", nullptr, nullptr,
     [](Out& o) { return KX_GetAppDataPathW(o.text, MAX_PATH, L"KX Software", L"Bench"); },
     [](Out& o) { return hand::app_data_path(o.text, MAX_PATH, L"KX Software", L"Bench"); }},
    {"KX_GetProductNameW", 1, L"KX_Pellam benchmark", nullptr, nullptr, [](Out& o) { return KX_GetProductNameW(g_self, o.text, MAX_PATH); },
     [](Out& o) { return hand::product_name(g_self, o.text, MAX_PATH); }},
    {"KX_CreateShortcutW", 0, nullptr, nullptr, nullptr,
     [](Out&) {
       return static_cast<int>(KX_CreateShortcutW(g_made, g_self, L"--bench", L"C:\\", L"KX bench", 0x0646, 3));
     },
     [](Out&) {
       return static_cast<int>(hand::create_shortcut(g_made, g_self, L"--bench", L"C:\\", L"KX bench", 0x0646, 3));
     }},
    {"KX_ResolveShortcutW", 0, L"kx_bench.exe", nullptr, nullptr,
     [](Out& o) {
       return static_cast<int>(KX_ResolveShortcutW(g_resolved, o.text, o.directory, o.description, &o.hotkey,
                                                   &o.show, o.icon, &o.icon_index));
     },
     [](Out& o) {
       return static_cast<int>(hand::resolve_shortcut(g_resolved, o.text, o.directory, o.description, &o.hotkey,
                                                      &o.show, o.icon, &o.icon_index));
     }},
    {"KX_MCI_OpenDeviceW", 1, nullptr, nullptr, close_device, [](Out&) { return KX_MCI_OpenDeviceW(g_tone, kAlias); },
     [](Out&) { return hand::mci_open(g_tone, kAlias); }},
    {"KX_MCI_CloseDeviceW", 1, nullptr, open_device, nullptr, [](Out&) { return KX_MCI_CloseDeviceW(kAlias); },
     [](Out&) { return hand::mci_close(kAlias); }},
    {"KX_IsPlatform7_LaterW", -2, nullptr, nullptr, nullptr, [](Out&) { return KX_IsPlatform7_LaterW(-1); },
     [](Out&) { return hand::platform7_later(-1); }},
};

double g_ns_per_tick;
double g_counter_ns;  // the cost of one counter reading
bool g_control;       // hand-written calls in both columns: the noise floor

long long now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

// k calls in one stretch, with a row's untimed steps around each call (such
// rows are timed one call at a time); nanoseconds per call, less what reading
// the counter itself costs.
double timed(const Row& row, int (*call)(Out&), Out& out, int k) {
  if (row.before == nullptr && row.after == nullptr) {
    const long long start = now();
    for (int i = 0; i < k; ++i) call(out);
    return ((now() - start) * g_ns_per_tick - g_counter_ns) / k;
  }
  if (row.before != nullptr) row.before();
  const long long start = now();
  call(out);
  const long long ticks = now() - start;
  if (row.after != nullptr) row.after();
  return ticks * g_ns_per_tick - g_counter_ns;
}

// Nanoseconds per call of each stretch, and each pair's ratio.
struct Samples {
  std::vector<double> lib, hand, ratio;
};

// `pairs` stretches of k library calls and as many of k hand-written calls,
// interleaved and the order swapped every pair. The two stretches of a pair
// run microseconds apart under the same load; a pair that the scheduler
// interrupted is one outlier among many, which the medians pass over.
void round_of(const Row& row, int pairs, int k, Samples& s) {
  Out out;
  int (*lib)(Out&) = g_control ? row.hand : row.lib;
  for (int i = 0; i < pairs; ++i) {
    double l = 0, h = 0;
    if (i % 2 == 0) {
      l = timed(row, lib, out, k);
      h = timed(row, row.hand, out, k);
    } else {
      h = timed(row, row.hand, out, k);
      l = timed(row, lib, out, k);
    }
    s.lib.push_back(l);
    s.hand.push_back(h);
    s.ratio.push_back(l / std::max(h, 1.0));
  }
}

bool same(const Out& a, const Out& b) {
  return wcscmp(a.text, b.text) == 0 && wcscmp(a.directory, b.directory) == 0 &&
         wcscmp(a.description, b.description) == 0 && wcscmp(a.icon, b.icon) == 0 && a.hotkey == b.hotkey &&
         a.show == b.show && a.icon_index == b.icon_index;
}

// Runs both versions once and compares them. A predicate's answer depends
// on the system, so its row (expect -2) only needs the two to agree.
bool agree(const Row& row) {
  Out a = {}, b = {};
  if (row.before != nullptr) row.before();
  const int from_lib = row.lib(a);
  if (row.after != nullptr) row.after();
  if (row.before != nullptr) row.before();
  const int from_hand = row.hand(b);
  if (row.after != nullptr) row.after();
  const size_t got = wcslen(a.text), want = row.text != nullptr ? wcslen(row.text) : 0;
  const bool text_ok = row.text == nullptr || (got >= want && wcscmp(a.text + got - want, row.text) == 0);
  const bool ok = from_lib == from_hand && same(a, b) && text_ok && (row.expect == -2 || from_lib == row.expect);
  if (!ok) {
    std::printf("%s: the library gave %d \"%ls\", the hand-written calls %d \"%ls\" (expected %d)\n", row.name,
                from_lib, a.text, from_hand, b.text, row.expect);
  }
  return ok;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 != 0 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

constexpr double kGoal = 1.02;
constexpr double kWidth = 0.03;  // the widest interval a verdict is read from: ±3%

// The median ratio and its 95% confidence interval from the order statistics.
struct Interval {
  double ratio, low, high;
  bool narrow() const { return low >= ratio * (1 - kWidth) && high <= ratio * (1 + kWidth); }
  bool over() const { return low > kGoal; }
};

Interval interval(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const double n = static_cast<double>(v.size()), half = 0.98 * std::sqrt(n);
  return {median(v), v[static_cast<size_t>(std::max(0.0, std::floor(n / 2 - half)))],
          v[static_cast<size_t>(std::min(n - 1, std::ceil(n / 2 + half)))]};
}

// A 0.2 s tone, 16-bit mono PCM at 22,050 Hz (silence is enough for MCI).
bool write_tone(const wchar_t* path) {
  const DWORD samples = 22050 / 5;
  const DWORD head[] = {0x46464952, 36 + samples * 2, 0x45564157, 0x20746d66, 16, 0x00010001, 22050, 44100,
                        0x00100002, 0x61746164, samples * 2};
  std::vector<char> bytes(sizeof head + samples * 2, 0);
  std::memcpy(bytes.data(), head, sizeof head);
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

std::string thousands(double ns) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%.0f", ns);
  std::string s = digits, out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (i != 0 && (s.size() - i) % 3 == 0) out += ',';
    out += s[i];
  }
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int rounds = 61;
  int round_ms = 4;
  int budget_s = 150;
  const wchar_t* only = nullptr;
  for (int i = 1; i < argc; ++i) {
    const bool value = i + 1 < argc;
    if (wcscmp(argv[i], L"--control") == 0) g_control = true;
    if (value && wcscmp(argv[i], L"--only") == 0) only = argv[++i];
    if (value && wcscmp(argv[i], L"--rounds") == 0) rounds = std::max(1, _wtoi(argv[++i]));
    if (value && wcscmp(argv[i], L"--round-ms") == 0) round_ms = std::max(1, _wtoi(argv[++i]));
    if (value && wcscmp(argv[i], L"--budget-s") == 0) budget_s = std::max(1, _wtoi(argv[++i]));
  }
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  g_ns_per_tick = 1e9 / static_cast<double>(frequency.QuadPart);
  std::vector<double> readings;
  for (int i = 0; i < 1001; ++i) {
    const long long start = now();
    readings.push_back((now() - start) * g_ns_per_tick);
  }
  g_counter_ns = median(readings);

  wchar_t temp[MAX_PATH];
  GetModuleFileNameW(nullptr, g_self, MAX_PATH);
  GetTempPathW(MAX_PATH, temp);
  wsprintfW(g_tone, L"%skx_bench_tone.wav", temp);
  wsprintfW(g_made, L"%skx_bench_made.lnk", temp);
  wsprintfW(g_resolved, L"%skx_bench_resolved.lnk", temp);
  // The entry the query row reads, also when that row runs alone.
  if (!write_tone(g_tone) || hand::regist_app_path(kAppFile, kAppDir) != ERROR_SUCCESS ||
      FAILED(hand::create_shortcut(g_resolved, g_self, L"--bench", L"C:\\", L"KX bench", 0x0646, 3))) {
    std::printf("could not write the benchmark's files in %ls\n", temp);
    return 1;
  }

  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  const bool is64 = sizeof(void*) == 8;
  std::printf("### %s build (%s)%s\n\n", is64 ? "x64" : "x86",
              is64 ? "64-bit process" : (wow64 ? "32-bit process under WoW64" : "32-bit process"),
              g_control ? ", control run: hand-written calls in both columns" : "");
  std::printf("| Export | Median lib ns | Median hand ns | Ratio lib/hand | 95%% interval | Pairs | Verdict |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---|\n");

  int failures = 0, over = 0, wide = 0;
  for (const Row& row : kRows) {
    wchar_t name[64];
    wsprintfW(name, L"%hs", row.name);
    if (only != nullptr && wcscmp(only, name) != 0) continue;
    // Warm-up: first calls load DLLs and fill caches for both versions.
    bool ok = true;
    for (int i = 0; i < 5 && ok; ++i) ok = agree(row);
    if (!ok) {
      ++failures;
      continue;
    }
    Samples trial;
    round_of(row, 4, 1, trial);
    const double per_call = std::max(1.0, std::max(median(trial.lib), median(trial.hand)));
    // A stretch of at least 20 us, so the counter's 100 ns steps (Wine's
    // 10 MHz) weigh half a percent at most.
    const bool hooks = row.before != nullptr || row.after != nullptr;
    const int k = hooks ? 1 : static_cast<int>(std::max(1.0, std::ceil(20000.0 / per_call)));
    // Pairs per round: about round_ms of work on each side, and at least two
    // for the slow calls, whose every pair the scheduler is likely to touch.
    const int pairs = static_cast<int>(std::min(20000.0, std::max(2.0, round_ms * 1e6 / (per_call * k))));
    // The rounds first, then more of them while the interval is wider than
    // ±3%: the calls that take milliseconds need thousands of pairs.
    Samples s;
    const long long deadline = now() + static_cast<long long>(budget_s) * frequency.QuadPart;
    for (int r = 0; r < rounds; ++r) round_of(row, pairs, k, s);
    Interval iv = interval(s.ratio);
    while (!iv.narrow() && now() < deadline) {
      for (int r = 0; r < rounds; ++r) round_of(row, pairs, k, s);
      iv = interval(s.ratio);
    }
    over += iv.over();
    wide += !iv.narrow();
    std::printf("| %s | %s | %s | %.3f | %.3f-%.3f | %zu | %s%s |\n", row.name, thousands(median(s.lib)).c_str(),
                thousands(median(s.hand)).c_str(), iv.ratio, iv.low, iv.high, s.ratio.size(),
                iv.over() ? "over" : "within", iv.narrow() ? "" : ", interval wider than ±3%");
    std::fflush(stdout);
  }
  hand::delete_app_path(kAppFile);
  DeleteFileW(g_made);
  DeleteFileW(g_resolved);
  DeleteFileW(g_tone);

  std::printf("\nLibrary and hand-written calls interleaved in pairs of stretches (20 us of calls, or one call where "
              "each needs an untimed step before or after it), %d rounds of about %d ms per export; %.0f ns per "
              "stretch for reading the counter taken off, and more rounds (up to %d s per export) while the "
              "interval was wider than ±3%%. Times: medians over the stretches; ratio: the median of the pairs' "
              "ratios, with its 95%% confidence interval. Goal, 1.02 or below: %s (%d export(s) whose whole interval "
              "lies above 1.02; %d interval(s) left wider than ±3%%).\n",
              rounds, round_ms, g_counter_ns, budget_s, over == 0 ? "met" : "NOT met", over, wide);
  if (failures != 0) std::printf("%d export(s) disagreed with the hand-written calls and were not timed.\n", failures);
  return failures == 0 ? 0 : 1;
}
