// MCI devices and sounds: real playback under Wine's null audio device (the
// notification a window receives, devices MCI knows, bytes a block holds),
// and through the call recorder what Wine cannot show: exact commands,
// flags, call order, refusals that send nothing, failures and balance.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "KX_Pellam.h"
#include "support/recorder.h"

namespace {

template <class C>
std::basic_string<C> t(const std::wstring& s) {
  std::basic_string<C> out;
  for (wchar_t c : s) out.push_back(static_cast<C>(c));
  return out;
}

std::wstring temp_path(const std::wstring& name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return dir + name;
}

// A 440 Hz tone of `ms` milliseconds: 16-bit mono PCM at 22,050 Hz.
std::vector<char> tone(unsigned ms) {
  const unsigned rate = 22050, samples = rate * ms / 1000, data = samples * 2;
  std::vector<char> f;
  auto put = [&f](const char* s, unsigned n) { f.insert(f.end(), s, s + n); };
  auto u32 = [&put](unsigned v) { put(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&put](unsigned short v) { put(reinterpret_cast<const char*>(&v), 2); };
  put("RIFF", 4), u32(36 + data), put("WAVEfmt ", 8), u32(16), u16(1), u16(1), u32(rate), u32(rate * 2), u16(2),
      u16(16), put("data", 4), u32(data);
  for (unsigned i = 0; i < samples; ++i) u16(static_cast<unsigned short>(8000 * std::sin(i * 6.2832 * 440 / rate)));
  return f;
}

std::wstring write_file(const std::wstring& name, const std::vector<char>& bytes) {
  const std::wstring path = temp_path(name);
  FILE* f = _wfopen(path.c_str(), L"wb");
  if (f == nullptr) ADD_FAILURE() << "cannot write the test file";
  if (f != nullptr) fwrite(bytes.data(), 1, bytes.size(), f), fclose(f);
  return path;
}

// A message-only window that keeps the codes of the MCI notices it receives.
struct NotifyWindow {
  static inline std::vector<WPARAM> codes;
  static LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == MM_MCINOTIFY) codes.push_back(wp);
    return DefWindowProcW(w, m, wp, lp);
  }
  HWND hwnd = nullptr;
  NotifyWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = proc;
    wc.lpszClassName = L"KXTestMciNotify";
    RegisterClassW(&wc);
    hwnd = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    codes.clear();
  }
  ~NotifyWindow() { DestroyWindow(hwnd); }
  // Pumps messages until a notice with `code` arrives; false after 5 s.
  bool wait_for(WPARAM code) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000;) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      for (auto it = codes.begin(); it != codes.end(); ++it) {
        if (*it == code) return codes.erase(it), true;
      }
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return false;
  }
};

struct Wide {
  using C = wchar_t;
  using Send = decltype(mciSendStringW);
  using Create = decltype(CreateFileW);
  static constexpr const char* send = "mciSendStringW";
  static constexpr const char* create = "CreateFileW";
  static constexpr auto open = KX_MCI_OpenDeviceW, play = KX_MCI_PlayDeviceW;
  static constexpr auto stop = KX_MCI_StopDeviceW, close = KX_MCI_CloseDeviceW;
  static constexpr auto start_file = KX_SoundPlayStartW, stop_file = KX_SoundPlayStopW;
  static constexpr auto load = KX_SND_LoadSoundW;
};
struct Narrow {
  using C = char;
  using Send = decltype(mciSendStringA);
  using Create = decltype(CreateFileA);
  static constexpr const char* send = "mciSendStringA";
  static constexpr const char* create = "CreateFileA";
  static constexpr auto open = KX_MCI_OpenDeviceA, play = KX_MCI_PlayDeviceA;
  static constexpr auto stop = KX_MCI_StopDeviceA, close = KX_MCI_CloseDeviceA;
  static constexpr auto start_file = KX_SoundPlayStartA, stop_file = KX_SoundPlayStopA;
  static constexpr auto load = KX_SND_LoadSoundA;
};

template <class T>
class Sound : public ::testing::Test {
 protected:
  using C = typename T::C;
  static std::basic_string<C> s(const std::wstring& w) { return t<C>(w); }
  static std::wstring tag() { return sizeof(C) == 2 ? L"W" : L"A"; }
  kxtest::Recorder rec{GetModuleHandleW(L"KX_Pellam.dll")};
};
using Widths = ::testing::Types<Wide, Narrow>;
TYPED_TEST_SUITE(Sound, Widths);

TYPED_TEST(Sound, PlaysAFileWithBlanksAndNotifiesTheWindow) {
  using T = TypeParam;
  auto& send = this->rec.template hook<typename T::Send>("winmm.dll", T::send);
  const auto file = this->s(write_file(L"KX tone " + this->tag() + L".wav", tone(500)));
  const auto alias = this->s(L"kxtone" + this->tag()), missing = this->s(temp_path(L"KX no such.wav"));
  NotifyWindow win;
  ASSERT_EQ(T::open(file.c_str(), alias.c_str()), 1);
  EXPECT_EQ(T::play(win.hwnd, alias.c_str()), 1);
  EXPECT_TRUE(win.wait_for(MCI_NOTIFY_SUCCESSFUL));
  EXPECT_EQ(T::play(win.hwnd, alias.c_str()), 1);  // played to its end, it starts again
  EXPECT_EQ(T::stop(alias.c_str()), 1);
  EXPECT_TRUE(win.wait_for(MCI_NOTIFY_ABORTED));
  EXPECT_EQ(T::play(win.hwnd, alias.c_str()), 1);  // and again after a stop
  EXPECT_TRUE(win.wait_for(MCI_NOTIFY_SUCCESSFUL));
  EXPECT_EQ(T::stop(alias.c_str()), 1);
  EXPECT_EQ(T::close(alias.c_str()), 1);
  EXPECT_EQ(T::stop(alias.c_str()), 0);  // MCI no longer knows the alias
  EXPECT_EQ(T::play(win.hwnd, alias.c_str()), 0);

  EXPECT_EQ(T::start_file(win.hwnd, file.c_str(), alias.c_str()), 1);
  EXPECT_TRUE(win.wait_for(MCI_NOTIFY_SUCCESSFUL));
  EXPECT_EQ(T::stop_file(alias.c_str()), 1);
  EXPECT_EQ(T::close(alias.c_str()), 0);  // the stop closed it
  EXPECT_EQ(T::stop_file(this->s(L"kxnever").c_str()), 1);

  send.calls.clear();
  EXPECT_EQ(T::start_file(win.hwnd, missing.c_str(), alias.c_str()), 0);
  ASSERT_EQ(send.count(), 1u);  // the open only: no play follows a failed open
  EXPECT_EQ(std::get<0>(send.calls[0]), this->s(L"open \"" + temp_path(L"KX no such.wav") + L"\" alias kxtone" +
                                                 this->tag()));
}

TYPED_TEST(Sound, SendsExactCommandsAndOnlyPlayNamesTheWindow) {
  using T = TypeParam;
  auto& send = this->rec.template hook<typename T::Send>("winmm.dll", T::send);
  MCIERROR answer = 0;
  send.script = [&answer](auto...) { return std::optional<MCIERROR>(answer); };
  const HWND window = reinterpret_cast<HWND>(0x1234);
  EXPECT_EQ(T::start_file(window, this->s(L"C:\\a b.wav").c_str(), this->s(L"snd1").c_str()), 1);
  EXPECT_EQ(T::stop_file(this->s(L"snd1").c_str()), 1);
  EXPECT_EQ(T::open(this->s(L"\"C:\\a b.wav\"").c_str(), this->s(L"snd1").c_str()), 1);  // quoted once only
  answer = MCIERR_INVALID_DEVICE_NAME;
  EXPECT_EQ(T::start_file(window, this->s(L"C:\\a b.wav").c_str(), this->s(L"snd1").c_str()), 0);
  EXPECT_EQ(T::stop_file(this->s(L"snd1").c_str()), 1);
  const struct {
    const wchar_t* command;
    HWND callback;
  } want[] = {{L"open \"C:\\a b.wav\" alias snd1", nullptr}, {L"play snd1 from 0 Notify", window},
              {L"stop snd1", nullptr}, {L"close snd1", nullptr}, {L"open \"C:\\a b.wav\" alias snd1", nullptr},
              {L"open \"C:\\a b.wav\" alias snd1", nullptr}, {L"stop snd1", nullptr}, {L"close snd1", nullptr}};
  ASSERT_EQ(send.count(), std::size(want));
  for (size_t i = 0; i < std::size(want); ++i) {
    EXPECT_EQ(std::get<0>(send.calls[i]), this->s(want[i].command)) << i;
    EXPECT_FALSE(std::get<1>(send.calls[i]).has_value());
    EXPECT_EQ(std::get<2>(send.calls[i]), 0u);
    EXPECT_EQ(std::get<3>(send.calls[i]), want[i].callback) << i;
  }
}

// Each command at the longest alias (or file name) its buffer holds is sent
// whole; one character more, or a huge one, is refused and nothing is sent.
TYPED_TEST(Sound, RefusesCommandsThatWouldNotFitWithoutSendingAnything) {
  using T = TypeParam;
  using C = typename T::C;
  using Text = std::basic_string<C>;
  auto& send = this->rec.template hook<typename T::Send>("winmm.dll", T::send);
  send.script = [](auto...) { return std::optional<MCIERROR>(0); };
  const struct {
    int (*call)(size_t);
    size_t longest, fixed;  // the longest piece; the rest of the first command
  } cases[] = {
      {[](size_t n) { return T::close(Text(n, C('a')).c_str()); }, 505, 6},
      {[](size_t n) { return T::stop(Text(n, C('a')).c_str()); }, 506, 5},
      {[](size_t n) { return T::play(nullptr, Text(n, C('a')).c_str()); }, 492, 19},
      {[](size_t n) { return T::open(t<C>(L"C:\\x.wav").c_str(), Text(n, C('a')).c_str()); }, 497, 22},
      {[](size_t n) { return T::open(Text(250, C('f')).c_str(), Text(n, C('a')).c_str()); }, 255, 264},
      {[](size_t n) { return T::start_file(nullptr, Text(n, C('f')).c_str(), t<C>(L"s").c_str()); }, 257, 15},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.longest);
    send.calls.clear();
    EXPECT_EQ(c.call(c.longest), 1);
    ASSERT_GE(send.count(), 1u);
    EXPECT_EQ(std::get<0>(send.calls[0])->size(), c.fixed + c.longest);
    send.calls.clear();
    EXPECT_EQ(c.call(c.longest + 1), 0);
    EXPECT_EQ(c.call(65536), 0);
    EXPECT_EQ(send.count(), 0u);
  }
  EXPECT_EQ(T::open(t<C>(L"a\"b.wav").c_str(), t<C>(L"s").c_str()), 0);  // the quote would end the name early
  EXPECT_EQ(T::open(nullptr, t<C>(L"s").c_str()), 0);
  EXPECT_EQ(T::stop(nullptr), 0);
  EXPECT_EQ(send.count(), 0u);
}

TYPED_TEST(Sound, LoadsTheWholeFileIntoABlockThatPlays) {
  using T = TypeParam;
  const auto bytes = tone(300);
  const std::wstring path = write_file(L"KX memory " + this->tag() + L".wav", bytes);
  void* block = T::load(this->s(path).c_str());
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(HeapSize(GetProcessHeap(), 0, block), bytes.size());
  EXPECT_EQ(std::memcmp(block, bytes.data(), bytes.size()), 0);
  EXPECT_TRUE(DeleteFileW(path.c_str()));  // opened without sharing, so closed by now
  EXPECT_NE(KX_SND_PlaySound(block, SND_SYNC), 0);
  KX_SND_DeleteSoundMemory(block);
  EXPECT_EQ(T::load(this->s(path).c_str()), nullptr);

  void* empty = T::load(this->s(write_file(L"KX empty " + this->tag() + L".wav", {})).c_str());
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(HeapSize(GetProcessHeap(), 0, empty), 0u);
  KX_SND_DeleteSoundMemory(empty);
}

TYPED_TEST(Sound, LoadClosesTheFileAndKeepsNoBlockOnEveryFailure) {
  using T = TypeParam;
  const auto bytes = tone(100);
  const auto path = this->s(write_file(L"KX failing " + this->tag() + L".wav", bytes));
  auto& create = this->rec.template hook<typename T::Create>("kernel32.dll", T::create);
  auto& size = this->rec.template hook<decltype(GetFileSize)>("kernel32.dll", "GetFileSize");
  auto& alloc = this->rec.template hook<decltype(HeapAlloc)>("kernel32.dll", "HeapAlloc");
  auto& read = this->rec.template hook<decltype(ReadFile)>("kernel32.dll", "ReadFile");
  auto& close = this->rec.template hook<decltype(CloseHandle)>("kernel32.dll", "CloseHandle");
  auto& free = this->rec.template hook<decltype(HeapFree)>("kernel32.dll", "HeapFree");
  enum Fail { kNone, kSize, kHigh, kAlloc, kRead } fail = kNone;
  HANDLE opened = nullptr;
  std::vector<void*> live;
  create.script = [&](auto... a) { return std::optional<HANDLE>(opened = create.call_real(a...)); };
  size.script = [&](HANDLE, LPDWORD high) -> std::optional<DWORD> {
    if (fail == kHigh) *high = 1;
    if (fail == kSize || fail == kHigh) return fail == kSize ? INVALID_FILE_SIZE : 16;
    return std::nullopt;
  };
  alloc.script = [&](HANDLE heap, DWORD flags, SIZE_T n) -> std::optional<LPVOID> {
    if (fail == kAlloc) return nullptr;
    live.push_back(alloc.call_real(heap, flags, n));
    return live.back();
  };
  free.observe = [&](HANDLE, DWORD, LPVOID p) { std::erase(live, p); };
  read.script = [&](auto...) { return fail == kRead ? std::optional<BOOL>(FALSE) : std::nullopt; };
  for (Fail f : {kNone, kSize, kHigh, kAlloc, kRead}) {
    SCOPED_TRACE(f);
    fail = f;
    this->rec.clear();
    void* block = T::load(path.c_str());
    EXPECT_EQ(block != nullptr, f == kNone);
    EXPECT_EQ(live.size(), f == kNone ? 1u : 0u);
    ASSERT_EQ(close.count(), 1u);
    EXPECT_EQ(std::get<0>(close.calls[0]), opened);
    KX_SND_DeleteSoundMemory(block);
    EXPECT_TRUE(live.empty());
  }
  const auto& c = create.calls[0];
  EXPECT_EQ(std::make_tuple(std::get<1>(c), std::get<2>(c), std::get<3>(c), std::get<4>(c), std::get<5>(c),
                            std::get<6>(c)),
            std::make_tuple(DWORD(GENERIC_READ), DWORD(0), LPSECURITY_ATTRIBUTES(nullptr), DWORD(OPEN_EXISTING),
                            DWORD(FILE_ATTRIBUTE_NORMAL), HANDLE(nullptr)));
  EXPECT_EQ(std::get<1>(alloc.calls[0]), DWORD(HEAP_ZERO_MEMORY));
  EXPECT_EQ(std::get<2>(alloc.calls[0]), bytes.size());
  EXPECT_EQ(std::get<2>(read.calls[0]), bytes.size());
  this->rec.clear();
  EXPECT_EQ(T::load(this->s(temp_path(L"KX no such.wav")).c_str()), nullptr);
  EXPECT_EQ(this->rec.order(), std::vector<std::string>{T::create});
}

// The player's block lies in pages of its own that the free releases: a sound
// still playing from it after the delete would fault in Wine's player thread.
TEST(SoundMemory, DeleteStopsALoopingSoundBeforeFreeingItsBlock) {
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& alloc = rec.hook<decltype(HeapAlloc)>("kernel32.dll", "HeapAlloc");
  auto& free = rec.hook<decltype(HeapFree)>("kernel32.dll", "HeapFree");
  auto& stop = rec.hook<decltype(PlaySoundA)>("winmm.dll", "PlaySoundA");
  alloc.script = [](HANDLE, DWORD, SIZE_T n) {
    return std::optional<LPVOID>(VirtualAlloc(nullptr, n, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  };
  free.script = [](HANDLE, DWORD, LPVOID p) { return std::optional<BOOL>(VirtualFree(p, 0, MEM_RELEASE)); };
  void* block = KX_SND_LoadSoundW(write_file(L"KX loop.wav", tone(200)).c_str());
  ASSERT_NE(block, nullptr);
  EXPECT_NE(KX_SND_PlaySound(block, SND_ASYNC | SND_LOOP), 0);
  Sleep(300);
  rec.clear();
  KX_SND_DeleteSoundMemory(block);
  KX_SND_DeleteSoundMemory(nullptr);
  Sleep(300);
  EXPECT_EQ(rec.order(), (std::vector<std::string>{"PlaySoundA", "HeapFree", "PlaySoundA"}));
  for (const auto& call : stop.calls) EXPECT_EQ(call, std::make_tuple(std::optional<std::string>(), HMODULE(), DWORD(0)));
  EXPECT_EQ(std::get<2>(free.calls[0]), block);
}

TEST(SoundMemory, PassesTheCallersFlagsWithSndMemoryAndThePlatformsResults) {
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& play = rec.hook<decltype(PlaySoundW)>("winmm.dll", "PlaySoundW");
  auto& stop = rec.hook<decltype(PlaySoundA)>("winmm.dll", "PlaySoundA");
  BOOL answer = TRUE;
  std::vector<std::tuple<LPCWSTR, HMODULE, DWORD>> seen;
  play.observe = [&](LPCWSTR p, HMODULE m, DWORD f) { seen.emplace_back(p, m, f); };
  play.script = [&](auto...) { return std::optional<BOOL>(answer); };
  stop.script = [&](auto...) { return std::optional<BOOL>(answer); };
  const DWORD cases[][2] = {{0, SND_MEMORY}, {SND_ASYNC | SND_LOOP, 0x0D}, {SND_NODEFAULT | SND_NOSTOP, 0x16},
                            {SND_MEMORY, SND_MEMORY}};
  const char block[4] = {};
  for (const auto& c : cases) {
    seen.clear();
    EXPECT_EQ(KX_SND_PlaySound(block, c[0]), 1);
    EXPECT_EQ(seen, (decltype(seen){{reinterpret_cast<LPCWSTR>(block), nullptr, c[1]}}));
  }
  EXPECT_EQ(KX_SND_StopSound(), 1);
  answer = FALSE;
  EXPECT_EQ(KX_SND_PlaySound(block, 0), 0);
  EXPECT_EQ(KX_SND_StopSound(), 0);
  ASSERT_EQ(stop.count(), 2u);
  EXPECT_EQ(stop.calls[1], std::make_tuple(std::optional<std::string>(), HMODULE(), DWORD(0)));
}

}  // namespace
