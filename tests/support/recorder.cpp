#include "support/recorder.h"

#include <cstdint>
#include <cstring>
#include <sstream>

namespace kxtest {
namespace detail {
namespace {

// Longer than any name a hostile-argument test hands the library (65,536
// characters), so such arguments are captured whole.
constexpr std::size_t kMaxCapturedChars = std::size_t{1} << 20;

bool readable(const MEMORY_BASIC_INFORMATION& info) {
  if (info.State != MEM_COMMIT) return false;
  if ((info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return false;
  constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                              PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  return (info.Protect & kReadable) != 0;
}

template <class C>
std::optional<std::basic_string<C>> copy_bounded(const C* text) {
  if (text == nullptr) return std::nullopt;
  std::basic_string<C> out;
  const C* p = text;
  while (out.size() < kMaxCapturedChars) {
    MEMORY_BASIC_INFORMATION info;
    if (::VirtualQuery(p, &info, sizeof info) != sizeof info || !readable(info)) break;
    const auto end = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
    while (reinterpret_cast<std::uintptr_t>(p) + sizeof(C) <= end && out.size() < kMaxCapturedChars) {
      if (*p == C{}) return out;
      out.push_back(*p++);
    }
    if (reinterpret_cast<std::uintptr_t>(p) < end) break;  // a character straddles into the next region
  }
  return out;
}

bool dll_name_matches(const char* imported, const char* wanted) {
  if (wanted == nullptr) return true;
  if (_stricmp(imported, wanted) == 0) return true;
  // Allow "kernel32" for "KERNEL32.dll".
  const std::size_t n = std::strlen(wanted);
  return _strnicmp(imported, wanted, n) == 0 && _stricmp(imported + n, ".dll") == 0;
}

const IMAGE_NT_HEADERS* nt_headers(const BYTE* base) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
  if (nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC) return nullptr;
  return nt;
}

// Calls visit(dll name, name thunk, address slot) for every import entry.
template <class Visit>
void for_each_import(const void* image, Visit&& visit) {
  const auto* base = static_cast<const BYTE*>(image);
  if (base == nullptr) return;
  const IMAGE_NT_HEADERS* nt = nt_headers(base);
  if (nt == nullptr) return;
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0 || dir.Size == 0) return;
  for (const auto* desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       desc->Name != 0; ++desc) {
    // Without the lookup table the names are gone once the loader has filled
    // the address table; mingw's linker always writes one.
    if (desc->OriginalFirstThunk == 0 || desc->FirstThunk == 0) continue;
    const char* dll = reinterpret_cast<const char*>(base + desc->Name);
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(const_cast<BYTE*>(base) + desc->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      visit(dll, *names, reinterpret_cast<void**>(&slots->u1.Function));
    }
  }
}

const char* imported_name(const void* image, const IMAGE_THUNK_DATA& entry) {
  if (IMAGE_SNAP_BY_ORDINAL(entry.u1.Ordinal)) return nullptr;
  const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(static_cast<const BYTE*>(image) +
                                                                      entry.u1.AddressOfData);
  return reinterpret_cast<const char*>(by_name->Name);
}

bool write_slot(void** slot, void* value) {
  DWORD old = 0;
  if (!::VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old)) return false;
  ::InterlockedExchangePointer(slot, value);
  DWORD ignored = 0;
  ::VirtualProtect(slot, sizeof(void*), old, &ignored);
  return true;
}

}  // namespace

std::optional<std::wstring> copy_string(const wchar_t* text) { return copy_bounded(text); }
std::optional<std::string> copy_string(const char* text) { return copy_bounded(text); }

std::vector<ImportSlot> find_imports(const void* image, const char* dll, const char* name, WORD ordinal) {
  std::vector<ImportSlot> found;
  for_each_import(image, [&](const char* imported_dll, const IMAGE_THUNK_DATA& entry, void** slot) {
    if (!dll_name_matches(imported_dll, dll)) return;
    const bool by_ordinal = IMAGE_SNAP_BY_ORDINAL(entry.u1.Ordinal);
    if (name == nullptr) {
      if (by_ordinal && IMAGE_ORDINAL(entry.u1.Ordinal) == ordinal) found.push_back({slot, imported_dll});
    } else if (!by_ordinal && std::strcmp(imported_name(image, entry), name) == 0) {
      found.push_back({slot, imported_dll});
    }
  });
  return found;
}

std::vector<std::string> dlls_importing(const void* image, const char* name) {
  std::vector<std::string> dlls;
  for (const ImportSlot& s : find_imports(image, nullptr, name, 0)) dlls.push_back(s.dll);
  return dlls;
}

}  // namespace detail

Recorder::Recorder(HMODULE module) : module_(module) {
  if (module == nullptr) ADD_FAILURE() << "Recorder: the module to watch is not loaded";
}

Recorder::~Recorder() {
  // Newest first, so that a slot patched twice ends with its first original.
  for (auto it = hooks_.rbegin(); it != hooks_.rend(); ++it) {
    detail::HookBase& hook = **it;
    for (auto slot = hook.slots_.rbegin(); slot != hook.slots_.rend(); ++slot) {
      if (!detail::write_slot(slot->slot, slot->original)) {
        ADD_FAILURE() << "Recorder: could not restore the import slot of " << hook.label_;
      }
    }
    hook.release_thunk();
  }
}

void Recorder::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  order_.clear();
  for (auto& hook : hooks_) hook->clear_calls();
}

std::string Recorder::import_key(const char* dll, const char* name, WORD ordinal) {
  std::string key = dll != nullptr ? dll : "*";
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (key.size() < 4 || key.compare(key.size() - 4, 4, ".dll") != 0) key += ".dll";
  key += '!';
  if (name != nullptr) {
    key += name;
  } else {
    key += '#';
    key += std::to_string(ordinal);
  }
  return key;
}

detail::HookBase* Recorder::find_hook(const std::string& key) const {
  for (const auto& hook : hooks_) {
    if (hook->key_ == key) return hook.get();
  }
  return nullptr;
}

void Recorder::install(std::unique_ptr<detail::HookBase> hook, const std::string& key, const char* dll,
                       const char* name, WORD ordinal) {
  hook->key_ = key;
  detail::HookBase& h = *hook;
  hooks_.push_back(std::move(hook));
  if (module_ == nullptr) return;

  if (name == nullptr && dll == nullptr) {
    ADD_FAILURE() << "Recorder: an ordinal hook (" << h.label_ << ") needs the DLL name";
    return;
  }
  const std::vector<detail::ImportSlot> found = detail::find_imports(module_, dll, name, ordinal);
  if (found.empty()) {
    char path[MAX_PATH] = "";
    ::GetModuleFileNameA(module_, path, MAX_PATH);
    std::ostringstream what;
    what << "Recorder: the module does not import ";
    if (name != nullptr) what << name; else what << "ordinal " << ordinal << " (" << h.label_ << ")";
    what << " from " << (dll != nullptr ? dll : "any DLL");
    if (name != nullptr) {
      const std::vector<std::string> elsewhere = detail::dlls_importing(module_, name);
      if (!elsewhere.empty()) {
        what << "; it imports it from";
        for (const std::string& d : elsewhere) what << ' ' << d;
      }
    }
    ADD_FAILURE() << what.str() << " [module " << path << "]";
    return;
  }

  void* const thunk = h.claim_thunk(*found.front().slot);
  if (thunk == nullptr) {
    ADD_FAILURE() << "Recorder: more than " << detail::kThunksPerSignature
                  << " hooks share the signature of " << h.label_;
    return;
  }
  h.original_ = *found.front().slot;
  for (const detail::ImportSlot& s : found) {
    void* const original = *s.slot;
    if (!detail::write_slot(s.slot, thunk)) {
      ADD_FAILURE() << "Recorder: VirtualProtect refused the import slot of " << h.label_;
      continue;
    }
    h.slots_.push_back({s.slot, original});
  }
  if (h.slots_.empty()) h.release_thunk();
}

}  // namespace kxtest
