// Call recorder: replaces entries of a loaded module's import address table so
// that a test sees every call the module makes to one platform function, with
// the arguments as they were at call time, and can answer in its place.
//
//   kxtest::Recorder rec(GetModuleHandleW(L"KX_Pellam.dll"));
//   auto& set = rec.hook<decltype(RegSetValueExW)>("advapi32.dll", "RegSetValueExW");
//   set.script = [](HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD) -> std::optional<LONG> {
//     return ERROR_ACCESS_DENIED;   // or std::nullopt to let the real call through
//   };
//   ... call the export ...
//   ASSERT_EQ(set.count(), 1u);
//   EXPECT_EQ(std::get<1>(set.calls[0]), L"Name");
//
// Only calls that go through the module's own import table are seen: a
// function the module looks up with GetProcAddress is reached by hooking
// GetProcAddress itself and handing back a fake from its script.
//
// Every slot is restored when the Recorder is destroyed. Threads that may
// still call into a hook (dialog drivers, callbacks) must be joined before
// that. Nested Recorders on the same module work when destroyed in reverse
// order of creation.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace kxtest {

class Recorder;

// What a call record keeps of one argument. Strings are copied at call time
// (the caller may reuse or free the memory right after), so a test can still
// read them afterwards; everything else, pointers included, is kept as is.
template <class T>
struct CaptureTraits {
  using type = T;
  static type capture(T value) { return value; }
};

namespace detail {
// Reads at most up to the first unreadable page, so that an unterminated
// output buffer (for instance one ending at a guard page) never faults here.
std::optional<std::wstring> copy_string(const wchar_t* text);
std::optional<std::string> copy_string(const char* text);
}  // namespace detail

template <>
struct CaptureTraits<const wchar_t*> {
  using type = std::optional<std::wstring>;
  static type capture(const wchar_t* value) { return detail::copy_string(value); }
};
template <>
struct CaptureTraits<wchar_t*> {
  using type = std::optional<std::wstring>;
  static type capture(wchar_t* value) { return detail::copy_string(value); }
};
template <>
struct CaptureTraits<const char*> {
  using type = std::optional<std::string>;
  static type capture(const char* value) { return detail::copy_string(value); }
};
template <>
struct CaptureTraits<char*> {
  using type = std::optional<std::string>;
  static type capture(char* value) { return detail::copy_string(value); }
};

template <class T>
using Captured = typename CaptureTraits<T>::type;

namespace detail {

// One import address table entry that matched a lookup.
struct ImportSlot {
  void** slot;       // the FirstThunk entry the loader filled in
  std::string dll;   // the DLL name as the module's import table spells it
};

// Walks the import descriptors of a mapped image. dll is compared without
// regard to case and may omit ".dll"; a null dll matches every DLL. A non-null
// name matches imports by name only; a null name matches the import by
// ordinal `ordinal` only. Exposed so that the matching can be checked on a
// hand-made image as well as on loaded modules.
std::vector<ImportSlot> find_imports(const void* image, const char* dll, const char* name, WORD ordinal);

// Every DLL name under which the image imports `name`, for failure messages.
std::vector<std::string> dlls_importing(const void* image, const char* name);

class HookBase {
 public:
  HookBase(const HookBase&) = delete;
  HookBase& operator=(const HookBase&) = delete;
  virtual ~HookBase() = default;

  const std::string& label() const { return label_; }
  // False if the module does not import the function (the test has already
  // been marked failed by Recorder::hook in that case).
  bool patched() const { return !slots_.empty(); }

 protected:
  HookBase(Recorder& owner, std::string label, const void* type_tag)
      : owner_(&owner), label_(std::move(label)), type_tag_(type_tag) {}

  // Appends one call to the owner's order under the owner's lock; `push`
  // stores the typed record while that lock is held.
  template <class Push>
  void note_call(Push&& push);
  std::mutex& mutex() const;

  void* original_ = nullptr;

 private:
  friend class kxtest::Recorder;

  struct Patched {
    void** slot;
    void* original;
  };

  // Claims a trampoline for this hook; null when the pool is exhausted.
  virtual void* claim_thunk(void* original) = 0;
  virtual void release_thunk() = 0;
  virtual void clear_calls() = 0;

  Recorder* owner_;
  std::string label_;
  const void* type_tag_;
  std::string key_;  // identifies the import, to hand back the same hook twice
  std::vector<Patched> slots_;
};

template <class R, class... A>
struct ScriptFor {
  using type = std::function<std::optional<R>(A...)>;
};
template <class... A>
struct ScriptFor<void, A...> {
  using type = std::function<bool(A...)>;
};

// Trampolines per signature: each one is a distinct function whose address
// can go into an import slot, and finds its hook through a static table.
constexpr std::size_t kThunksPerSignature = 16;

}  // namespace detail

template <class Fn>
class Hook;

template <class R, class... A>
class Hook<R WINAPI(A...)> final : public detail::HookBase {
 public:
  using Function = R WINAPI(A...);
  using Call = std::tuple<Captured<A>...>;

  // One entry per call, in call order. Written under the Recorder's lock;
  // read it once the calls of interest are over.
  std::vector<Call> calls;

  // Runs on the raw arguments before the script or the real function, e.g.
  // to copy a record that a pointer argument points to.
  std::function<void(A...)> observe;

  // Returns std::nullopt to forward to the real function, or the answer to
  // give instead of calling it. For functions returning void: true means the
  // call was handled and is not forwarded.
  typename detail::ScriptFor<R, A...>::type script;

  std::size_t count() const {
    std::lock_guard<std::mutex> lock(mutex());
    return calls.size();
  }

  R call_real(A... a) const {
    if (original_ == nullptr) {
      ADD_FAILURE() << "call_real on " << label() << ", which is not patched";
      if constexpr (!std::is_void_v<R>) return R{};
      else return;
    }
    return reinterpret_cast<Function*>(original_)(a...);
  }

  static const void* type_tag() {
    static const char tag = 0;
    return &tag;
  }

 private:
  friend class Recorder;

  Hook(Recorder& owner, std::string label) : HookBase(owner, std::move(label), type_tag()) {}

  R invoke(A... a) {
    // The bookkeeping below may touch the thread's last error, which some
    // callers set before a call and read after it.
    const DWORD last_error = ::GetLastError();
    Call record(CaptureTraits<A>::capture(a)...);
    note_call([&] { calls.push_back(std::move(record)); });
    if (observe) {
      ::SetLastError(last_error);
      observe(a...);
    }
    if (script) {
      ::SetLastError(last_error);
      if constexpr (std::is_void_v<R>) {
        if (script(a...)) return;
      } else {
        if (std::optional<R> answer = script(a...)) return *answer;
      }
    }
    ::SetLastError(last_error);
    return reinterpret_cast<Function*>(original_)(a...);
  }

  struct Pool {
    std::array<std::atomic<Hook*>, detail::kThunksPerSignature> active{};
    // Kept after a hook is gone so that a thread that read the patched slot
    // just before it was restored still reaches the real function.
    std::array<std::atomic<void*>, detail::kThunksPerSignature> originals{};
  };
  static Pool& pool() {
    static Pool p;
    return p;
  }

  template <std::size_t I>
  static R WINAPI thunk(A... a) {
    Pool& p = pool();
    if (Hook* h = p.active[I].load(std::memory_order_acquire)) return h->invoke(a...);
    return reinterpret_cast<Function*>(p.originals[I].load(std::memory_order_acquire))(a...);
  }

  template <std::size_t... I>
  static void* thunk_at(std::size_t index, std::index_sequence<I...>) {
    static Function* const table[] = {&thunk<I>...};
    return reinterpret_cast<void*>(table[index]);
  }

  void* claim_thunk(void* original) override {
    Pool& p = pool();
    for (std::size_t i = 0; i < p.active.size(); ++i) {
      Hook* expected = nullptr;
      if (p.active[i].compare_exchange_strong(expected, this)) {
        p.originals[i].store(original, std::memory_order_release);
        index_ = i;
        return thunk_at(i, std::make_index_sequence<detail::kThunksPerSignature>{});
      }
    }
    return nullptr;
  }

  void release_thunk() override {
    if (index_ < detail::kThunksPerSignature) pool().active[index_].store(nullptr, std::memory_order_release);
    index_ = detail::kThunksPerSignature;
  }

  void clear_calls() override { calls.clear(); }

  std::size_t index_ = detail::kThunksPerSignature;
};

class Recorder {
 public:
  explicit Recorder(HMODULE module);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Hooks the function the module imports by name. dll may be null to match
  // the name in whichever DLL(s) the module imports it from. Hooking the same
  // import twice hands back the same hook.
  template <class Fn>
  Hook<Fn>& hook(const char* dll, const char* name) {
    return hook_impl<Fn>(dll, name, 0, name);
  }

  // Hooks a function the module imports by ordinal from `dll`; `label` is
  // what order() shows for its calls.
  template <class Fn>
  Hook<Fn>& hook(const char* dll, WORD ordinal, const char* label) {
    return hook_impl<Fn>(dll, nullptr, ordinal, label);
  }

  // Names (or labels) of every hooked call, in call order, across all hooks.
  const std::vector<std::string>& order() const { return order_; }

  // Forgets every call seen so far; hooks and scripts stay in place.
  void clear();

  HMODULE module() const { return module_; }

 private:
  friend class detail::HookBase;

  template <class Fn>
  Hook<Fn>& hook_impl(const char* dll, const char* name, WORD ordinal, const char* label) {
    static_assert(std::is_function_v<Fn>, "hook<Fn>: Fn is a function type, e.g. decltype(RegCloseKey)");
    const std::string key = import_key(dll, name, ordinal);
    if (detail::HookBase* existing = find_hook(key)) {
      if (existing->type_tag_ == Hook<Fn>::type_tag()) return static_cast<Hook<Fn>&>(*existing);
      ADD_FAILURE() << label << " is already hooked with a different function type";
      std::unique_ptr<Hook<Fn>> stray(new Hook<Fn>(*this, label ? label : ""));
      Hook<Fn>& ref = *stray;
      hooks_.push_back(std::move(stray));
      return ref;
    }
    std::unique_ptr<Hook<Fn>> created(new Hook<Fn>(*this, label ? label : ""));
    Hook<Fn>& ref = *created;
    install(std::move(created), key, dll, name, ordinal);
    return ref;
  }

  static std::string import_key(const char* dll, const char* name, WORD ordinal);
  detail::HookBase* find_hook(const std::string& key) const;
  void install(std::unique_ptr<detail::HookBase> hook, const std::string& key, const char* dll, const char* name,
               WORD ordinal);

  HMODULE module_;
  mutable std::mutex mutex_;
  std::vector<std::string> order_;
  std::vector<std::unique_ptr<detail::HookBase>> hooks_;
};

template <class Push>
void detail::HookBase::note_call(Push&& push) {
  std::lock_guard<std::mutex> lock(owner_->mutex_);
  push();
  owner_->order_.push_back(label_);
}

inline std::mutex& detail::HookBase::mutex() const { return owner_->mutex_; }

}  // namespace kxtest
