#include "pe_image.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace kxtest {
namespace {

struct View {
  std::vector<char> bytes;
  std::vector<IMAGE_SECTION_HEADER> sections;

  const char* at_rva(DWORD rva, size_t size = 1) const {
    for (const auto& s : sections) {
      const DWORD span = std::max(s.Misc.VirtualSize, s.SizeOfRawData);
      if (rva >= s.VirtualAddress && rva < s.VirtualAddress + span) {
        const size_t off = s.PointerToRawData + (rva - s.VirtualAddress);
        if (off + size <= bytes.size()) return bytes.data() + off;
        return nullptr;
      }
    }
    return nullptr;
  }
  template <class T>
  bool read(size_t off, T* out) const {
    if (off + sizeof(T) > bytes.size()) return false;
    std::memcpy(out, bytes.data() + off, sizeof(T));
    return true;
  }
};

std::string c_string(const View& v, DWORD rva) {
  const char* p = v.at_rva(rva);
  return p ? std::string(p) : std::string();
}

}  // namespace

PeImage read_pe(const std::wstring& path) {
  PeImage image;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return image;
  View v;
  v.bytes.resize(GetFileSize(file, nullptr));
  DWORD got = 0;
  const BOOL read_ok = ReadFile(file, v.bytes.data(), static_cast<DWORD>(v.bytes.size()), &got, nullptr);
  CloseHandle(file);
  if (!read_ok || got != v.bytes.size()) return image;

  IMAGE_DOS_HEADER dos;
  if (!v.read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return image;
  const size_t nt = dos.e_lfanew;
  IMAGE_FILE_HEADER fh;
  if (!v.read(nt + 4, &fh)) return image;
  image.machine = fh.Machine;
  const size_t opt = nt + 4 + sizeof(IMAGE_FILE_HEADER);
  WORD magic = 0;
  v.read(opt, &magic);
  IMAGE_DATA_DIRECTORY export_dir{}, import_dir{};
  if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    IMAGE_OPTIONAL_HEADER64 oh;
    if (!v.read(opt, &oh)) return image;
    export_dir = oh.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    import_dir = oh.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  } else {
    IMAGE_OPTIONAL_HEADER32 oh;
    if (!v.read(opt, &oh)) return image;
    export_dir = oh.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    import_dir = oh.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  }
  const size_t sec = opt + fh.SizeOfOptionalHeader;
  for (WORD i = 0; i < fh.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER s;
    if (!v.read(sec + i * sizeof s, &s)) return image;
    v.sections.push_back(s);
  }

  if (export_dir.VirtualAddress != 0) {
    auto* ed = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(v.at_rva(export_dir.VirtualAddress, sizeof(IMAGE_EXPORT_DIRECTORY)));
    if (ed == nullptr) return image;
    auto* names = reinterpret_cast<const DWORD*>(v.at_rva(ed->AddressOfNames, 4 * ed->NumberOfNames));
    auto* ordinals = reinterpret_cast<const WORD*>(v.at_rva(ed->AddressOfNameOrdinals, 2 * ed->NumberOfNames));
    auto* functions = reinterpret_cast<const DWORD*>(v.at_rva(ed->AddressOfFunctions, 4 * ed->NumberOfFunctions));
    if (ed->NumberOfNames && (!names || !ordinals)) return image;
    std::vector<bool> named(ed->NumberOfFunctions, false);
    for (DWORD i = 0; i < ed->NumberOfNames; ++i) {
      image.exports.push_back({c_string(v, names[i]), ed->Base + ordinals[i]});
      if (ordinals[i] < named.size()) named[ordinals[i]] = true;
    }
    for (DWORD i = 0; i < ed->NumberOfFunctions; ++i)
      if (functions && functions[i] != 0 && !named[i]) ++image.unnamed_exports;
    std::sort(image.exports.begin(), image.exports.end());
  }

  if (import_dir.VirtualAddress != 0) {
    for (DWORD off = import_dir.VirtualAddress;; off += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
      auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(v.at_rva(off, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
      if (d == nullptr || d->Name == 0) break;
      image.imported_dlls.push_back(c_string(v, d->Name));
    }
  }
  image.ok = true;
  return image;
}

}  // namespace kxtest
