// MCI devices and sounds: real playback under Wine's null audio device (the
// notices a window receives, the devices MCI knows, the bytes a block holds),
// and through the call recorder what Wine cannot show: exact commands, flags,
// call order, refusals that send nothing, failures and balance.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "KX_Pellam.h"
#include "support/recorder.h"

namespace {

std::wstring temp_path(const std::wstring& name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return dir + name;
}

// A 440 Hz tone of `ms` milliseconds, 16-bit mono PCM at 22,050 Hz, written
// to the temporary folder; returns its path.
std::wstring write_tone(const std::wstring& name, unsigned ms, std::vector<char>* bytes = nullptr) {
  const unsigned rate = 22050, samples = rate * ms / 1000;
  std::vector<char> f;
  auto put = [&f](const void* p, size_t n) {
    f.insert(f.end(), static_cast<const char*>(p), static_cast<const char*>(p) + n);
  };
  const unsigned head[] = {0x46464952, 36 + samples * 2, 0x45564157, 0x20746d66, 16, 0x00010001, rate, rate * 2,
                           0x00100002, 0x61746164, samples * 2};  // RIFF, WAVE, fmt, PCM mono, data
  put(head, sizeof head);
  for (unsigned i = 0; i < samples; ++i) {
    const short v = static_cast<short>(8000 * std::sin(i * 6.2832 * 440 / rate));
    put(&v, 2);
  }
  const std::wstring path = temp_path(name);
  if (FILE* out = _wfopen(path.c_str(), L"wb")) fwrite(f.data(), 1, f.size(), out), fclose(out);
  if (bytes != nullptr) *bytes = f;
  return path;
}

// A message-only window; MCI posts its notices to it.
struct NotifyWindow {
  HWND hwnd = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ~NotifyWindow() { DestroyWindow(hwnd); }
  // The code of the next MM_MCINOTIFY, or 0 when none came within 5 s.
  WPARAM next_notice() {
    MSG msg;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000;) {
      if (PeekMessageW(&msg, hwnd, MM_MCINOTIFY, MM_MCINOTIFY, PM_REMOVE)) return msg.wParam;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_POSTMESSAGE);
    }
    return 0;
  }
};

#define KX_SOUND_WIDTH(Name, Char, X)                                                                   \
  struct Name {                                                                                         \
    using C = Char;                                                                                     \
    using Send = decltype(mciSendString##X);                                                            \
    using Create = decltype(CreateFile##X);                                                             \
    static constexpr const char *send = "mciSendString" #X, *create = "CreateFile" #X;                  \
    static constexpr auto open = KX_MCI_OpenDevice##X, play = KX_MCI_PlayDevice##X;                     \
    static constexpr auto stop = KX_MCI_StopDevice##X, close = KX_MCI_CloseDevice##X;                   \
    static constexpr auto start_file = KX_SoundPlayStart##X, stop_file = KX_SoundPlayStop##X;           \
    static constexpr auto load = KX_SND_LoadSound##X;                                                   \
  };
KX_SOUND_WIDTH(Wide, wchar_t, W)
KX_SOUND_WIDTH(Narrow, char, A)

template <class T>
class Sound : public ::testing::Test {
 protected:
  using C = typename T::C;
  using Text = std::basic_string<C>;
  static Text s(const std::wstring& w) { return Text(w.begin(), w.end()); }  // ASCII only
  static std::wstring tag() { return sizeof(C) == 2 ? L"W" : L"A"; }
  kxtest::Recorder rec{GetModuleHandleW(L"KX_Pellam.dll")};
  kxtest::Hook<typename T::Send>& send = rec.template hook<typename T::Send>("winmm.dll", T::send);
};
using Widths = ::testing::Types<Wide, Narrow>;
TYPED_TEST_SUITE(Sound, Widths);

TYPED_TEST(Sound, PlaysAFileWithBlanksAndNotifiesTheWindow) {
  using T = TypeParam;
  const auto file = this->s(write_tone(L"KX tone " + this->tag() + L".wav", 1000));
  const auto alias = this->s(L"kxtone" + this->tag()), missing = this->s(temp_path(L"KX no such.wav"));
  NotifyWindow win;
  ASSERT_EQ(T::open(file.c_str(), alias.c_str()), 1);
  EXPECT_EQ(T::play(win.hwnd, alias.c_str()), 1);
  EXPECT_EQ(win.next_notice(), WPARAM(MCI_NOTIFY_SUCCESSFUL));
  EXPECT_EQ(T::play(win.hwnd, alias.c_str()), 1);  // played to its end, it starts again
  EXPECT_EQ(T::stop(alias.c_str()), 1);
  EXPECT_EQ(win.next_notice(), WPARAM(MCI_NOTIFY_ABORTED));
  EXPECT_EQ(T::play(win.hwnd, alias.c_str()), 1);  // and again after a stop
  EXPECT_EQ(win.next_notice(), WPARAM(MCI_NOTIFY_SUCCESSFUL));
  EXPECT_EQ(T::close(alias.c_str()), 1);
  EXPECT_EQ(T::stop(alias.c_str()), 0);  // MCI no longer knows the alias
  EXPECT_EQ(T::play(win.hwnd, alias.c_str()), 0);

  EXPECT_EQ(T::start_file(win.hwnd, file.c_str(), alias.c_str()), 1);
  EXPECT_EQ(win.next_notice(), WPARAM(MCI_NOTIFY_SUCCESSFUL));
  EXPECT_EQ(T::stop_file(alias.c_str()), 1);
  EXPECT_EQ(T::close(alias.c_str()), 0);  // the stop closed it
  EXPECT_EQ(T::stop_file(this->s(L"kxnever").c_str()), 1);
  this->rec.clear();
  EXPECT_EQ(T::start_file(win.hwnd, missing.c_str(), alias.c_str()), 0);
  EXPECT_EQ(this->rec.order(), std::vector<std::string>{T::send});  // the open: no play follows its failure
}

TYPED_TEST(Sound, SendsExactCommandsAndOnlyPlayNamesTheWindow) {
  using T = TypeParam;
  MCIERROR answer = 0;
  this->send.script = [&answer](auto...) { return std::optional<MCIERROR>(answer); };
  const HWND window = reinterpret_cast<HWND>(0x1234);
  const auto file = this->s(L"C:\\a b.wav"), alias = this->s(L"snd1");
  EXPECT_EQ(T::start_file(window, file.c_str(), alias.c_str()), 1);
  EXPECT_EQ(T::stop_file(alias.c_str()), 1);
  answer = MCIERR_INVALID_DEVICE_NAME;
  EXPECT_EQ(T::start_file(window, file.c_str(), alias.c_str()), 0);
  const std::tuple<const wchar_t*, HWND> want[] = {{L"open \"C:\\a b.wav\" alias snd1", nullptr},
                                                   {L"play snd1 from 0 Notify", window},
                                                   {L"stop snd1", nullptr},
                                                   {L"close snd1", nullptr},
                                                   {L"open \"C:\\a b.wav\" alias snd1", nullptr}};
  ASSERT_EQ(this->send.count(), std::size(want));
  for (size_t i = 0; i < std::size(want); ++i) {
    const auto& [command, reply, size, callback] = this->send.calls[i];
    EXPECT_EQ(command, this->s(std::get<0>(want[i])));
    EXPECT_EQ(std::make_tuple(reply.has_value(), size, callback), std::make_tuple(false, 0u, std::get<1>(want[i])));
  }
}

// Each command at the longest alias or file name its buffer holds is sent
// whole; one character more, or a huge one, is refused and nothing is sent.
TYPED_TEST(Sound, RefusesCommandsThatWouldNotFitWithoutSendingAnything) {
  using T = TypeParam;
  using C = typename TestFixture::C;
  using Text = typename TestFixture::Text;
  this->send.script = [](auto...) { return std::optional<MCIERROR>(0); };
  const struct {
    int (*call)(size_t);
    size_t longest, fixed;  // the longest piece; the rest of the first command
  } cases[] = {
      {[](size_t n) { return T::close(Text(n, C('a')).c_str()); }, 505, 6},
      {[](size_t n) { return T::stop(Text(n, C('a')).c_str()); }, 506, 5},
      {[](size_t n) { return T::play(nullptr, Text(n, C('a')).c_str()); }, 492, 19},
      {[](size_t n) { return T::open(Text(250, C('f')).c_str(), Text(n, C('a')).c_str()); }, 255, 264},
      {[](size_t n) { return T::start_file(nullptr, Text(n, C('f')).c_str(), Text(1, C('s')).c_str()); }, 257, 15},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.longest);
    this->rec.clear();
    EXPECT_EQ(c.call(c.longest), 1);
    ASSERT_GE(this->send.count(), 1u);
    EXPECT_EQ(std::get<0>(this->send.calls[0])->size(), c.fixed + c.longest);
    this->rec.clear();
    EXPECT_EQ(c.call(c.longest + 1), 0);
    EXPECT_EQ(c.call(65536), 0);
    EXPECT_EQ(this->send.count(), 0u);
  }
  EXPECT_EQ(T::open(this->s(L"a\"b.wav").c_str(), this->s(L"s").c_str()), 0);  // would end the name early
  EXPECT_EQ(T::open(nullptr, this->s(L"s").c_str()), 0);
  EXPECT_EQ(T::stop(nullptr), 0);
  EXPECT_EQ(this->send.count(), 0u);
}

TYPED_TEST(Sound, LoadsTheWholeFileIntoABlockThatPlays) {
  using T = TypeParam;
  std::vector<char> bytes;
  const std::wstring path = write_tone(L"KX memory " + this->tag() + L".wav", 300, &bytes);
  void* block = T::load(this->s(path).c_str());
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(HeapSize(GetProcessHeap(), 0, block), bytes.size());
  EXPECT_EQ(std::memcmp(block, bytes.data(), bytes.size()), 0);
  EXPECT_TRUE(DeleteFileW(path.c_str()));  // opened without sharing, so closed by now
  EXPECT_NE(KX_SND_PlaySound(block, SND_SYNC), 0);
  KX_SND_DeleteSoundMemory(block);
  EXPECT_EQ(T::load(this->s(path).c_str()), nullptr);
}

TYPED_TEST(Sound, LoadClosesTheFileAndKeepsNoBlockOnEveryFailure) {
  using T = TypeParam;
  std::vector<char> bytes;
  const auto path = this->s(write_tone(L"KX failing " + this->tag() + L".wav", 100, &bytes));
  auto& rec = this->rec;
  auto& create = rec.template hook<typename T::Create>("kernel32.dll", T::create);
  auto& size = rec.template hook<decltype(GetFileSize)>("kernel32.dll", "GetFileSize");
  auto& alloc = rec.template hook<decltype(HeapAlloc)>("kernel32.dll", "HeapAlloc");
  auto& read = rec.template hook<decltype(ReadFile)>("kernel32.dll", "ReadFile");
  auto& close = rec.template hook<decltype(CloseHandle)>("kernel32.dll", "CloseHandle");
  enum Fail { kNone, kSize, kHigh, kAlloc, kRead } fail = kNone;
  HANDLE opened = nullptr;
  std::vector<void*> live;
  create.script = [&](auto... a) { return std::optional<HANDLE>(opened = create.call_real(a...)); };
  size.script = [&](HANDLE, LPDWORD high) -> std::optional<DWORD> {
    if (fail == kHigh) *high = 1;
    if (fail == kSize) return INVALID_FILE_SIZE;
    return fail == kHigh ? std::optional<DWORD>(16) : std::nullopt;
  };
  alloc.script = [&](HANDLE heap, DWORD flags, SIZE_T n) -> std::optional<LPVOID> {
    if (fail == kAlloc) return nullptr;
    return live.emplace_back(alloc.call_real(heap, flags, n));
  };
  rec.template hook<decltype(HeapFree)>("kernel32.dll", "HeapFree").observe = [&](HANDLE, DWORD, LPVOID p) {
    std::erase(live, p);
  };
  read.script = [&](auto...) { return fail == kRead ? std::optional<BOOL>(FALSE) : std::nullopt; };
  for (Fail f : {kNone, kSize, kHigh, kAlloc, kRead}) {
    SCOPED_TRACE(f);
    fail = f;
    rec.clear();
    void* block = T::load(path.c_str());
    EXPECT_EQ(block != nullptr, f == kNone);
    EXPECT_EQ(live.size(), f == kNone ? 1u : 0u);
    ASSERT_EQ(close.count(), 1u);
    EXPECT_EQ(std::get<0>(close.calls[0]), opened);
    KX_SND_DeleteSoundMemory(block);
  }
  const auto& [name, access, share, security, disposition, attributes, templ] = create.calls[0];
  EXPECT_EQ(std::make_tuple(access, share, security, disposition, attributes, templ),
            std::make_tuple(DWORD(GENERIC_READ), DWORD(0), LPSECURITY_ATTRIBUTES(), DWORD(OPEN_EXISTING),
                            DWORD(FILE_ATTRIBUTE_NORMAL), HANDLE()));
  EXPECT_EQ(std::get<1>(alloc.calls[0]), DWORD(HEAP_ZERO_MEMORY));
  EXPECT_EQ(std::get<2>(alloc.calls[0]), bytes.size());
  EXPECT_EQ(std::get<2>(read.calls[0]), bytes.size());
  rec.clear();
  EXPECT_EQ(T::load(this->s(temp_path(L"KX no such.wav")).c_str()), nullptr);
  EXPECT_EQ(rec.order(), std::vector<std::string>{T::create});
}

// The block lies in pages of its own that the free releases: a sound still
// playing from it after the delete would fault in Wine's player thread.
TEST(SoundMemory, DeleteStopsALoopingSoundBeforeFreeingItsBlock) {
  kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
  auto& free = rec.hook<decltype(HeapFree)>("kernel32.dll", "HeapFree");
  auto& stop = rec.hook<decltype(PlaySoundA)>("winmm.dll", "PlaySoundA");
  rec.hook<decltype(HeapAlloc)>("kernel32.dll", "HeapAlloc").script = [](HANDLE, DWORD, SIZE_T n) {
    return std::optional<LPVOID>(VirtualAlloc(nullptr, n, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  };
  free.script = [](HANDLE, DWORD, LPVOID p) { return std::optional<BOOL>(VirtualFree(p, 0, MEM_RELEASE)); };
  void* block = KX_SND_LoadSoundW(write_tone(L"KX loop.wav", 200).c_str());
  ASSERT_NE(block, nullptr);
  EXPECT_NE(KX_SND_PlaySound(block, SND_ASYNC | SND_LOOP), 0);
  Sleep(300);
  rec.clear();
  KX_SND_DeleteSoundMemory(block);
  KX_SND_DeleteSoundMemory(nullptr);
  Sleep(300);
  EXPECT_EQ(rec.order(), (std::vector<std::string>{"PlaySoundA", "HeapFree", "PlaySoundA"}));
  for (const auto& call : stop.calls) EXPECT_EQ(call, std::make_tuple(std::nullopt, HMODULE(), DWORD(0)));
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
  const char block[4] = {};
  const auto sound = reinterpret_cast<LPCWSTR>(block);
  for (DWORD flags : {0x0u, 0x9u, 0x12u, 0x4u}) EXPECT_EQ(KX_SND_PlaySound(block, flags), 1);
  EXPECT_EQ(seen, (decltype(seen){{sound, nullptr, 0x4}, {sound, nullptr, 0xD}, {sound, nullptr, 0x16},
                                  {sound, nullptr, 0x4}}));
  EXPECT_EQ(KX_SND_StopSound(), 1);
  answer = FALSE;
  EXPECT_EQ(KX_SND_PlaySound(block, 0), 0);
  EXPECT_EQ(KX_SND_StopSound(), 0);
  ASSERT_EQ(stop.count(), 2u);
  EXPECT_EQ(stop.calls[1], std::make_tuple(std::nullopt, HMODULE(), DWORD(0)));
}

}  // namespace
