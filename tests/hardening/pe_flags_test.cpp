// What a security review reads from every shipped PE file, in both builds:
// the loader flags, the sections' rights, and that a 32-bit image which
// promises to register no exception handler really installs none.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Image {
  std::vector<unsigned char> bytes;
  WORD machine = 0;
  WORD characteristics = 0;
  WORD dll_characteristics = 0;
  ULONGLONG image_base = 0;
  IMAGE_DATA_DIRECTORY directories[IMAGE_NUMBEROF_DIRECTORY_ENTRIES] = {};
  std::vector<IMAGE_SECTION_HEADER> sections;
};

template <class T>
bool read_at(const std::vector<unsigned char>& bytes, size_t offset, T* out) {
  if (offset + sizeof(T) > bytes.size()) return false;
  std::memcpy(out, bytes.data() + offset, sizeof(T));
  return true;
}

bool load(const std::string& path, Image& image) {
  std::ifstream in(path, std::ios::binary);
  image.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  IMAGE_DOS_HEADER dos;
  IMAGE_FILE_HEADER file;
  DWORD signature = 0;
  if (!read_at(image.bytes, 0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return false;
  const size_t nt = static_cast<size_t>(dos.e_lfanew);
  if (!read_at(image.bytes, nt, &signature) || signature != IMAGE_NT_SIGNATURE) return false;
  if (!read_at(image.bytes, nt + 4, &file)) return false;
  const size_t optional = nt + 4 + sizeof file;
  image.machine = file.Machine;
  image.characteristics = file.Characteristics;
  if (file.Machine == IMAGE_FILE_MACHINE_AMD64) {
    IMAGE_OPTIONAL_HEADER64 h;
    if (!read_at(image.bytes, optional, &h)) return false;
    image.dll_characteristics = h.DllCharacteristics;
    image.image_base = h.ImageBase;
    std::memcpy(image.directories, h.DataDirectory, sizeof h.DataDirectory);
  } else {
    IMAGE_OPTIONAL_HEADER32 h;
    if (!read_at(image.bytes, optional, &h)) return false;
    image.dll_characteristics = h.DllCharacteristics;
    image.image_base = h.ImageBase;
    std::memcpy(image.directories, h.DataDirectory, sizeof h.DataDirectory);
  }
  size_t at = optional + file.SizeOfOptionalHeader;
  for (WORD i = 0; i < file.NumberOfSections; ++i, at += sizeof(IMAGE_SECTION_HEADER)) {
    IMAGE_SECTION_HEADER s;
    if (!read_at(image.bytes, at, &s)) return false;
    image.sections.push_back(s);
  }
  return !image.sections.empty();
}

// Code that links a frame into the thread's exception-handler chain stores to
// fs:[0]: mov fs:[0], reg (64 89 /r with a bare displacement of 0) or
// mov fs:[0], eax (64 A3 00000000).
int handler_frames(const Image& image) {
  int found = 0;
  for (const auto& s : image.sections) {
    if ((s.Characteristics & IMAGE_SCN_MEM_EXECUTE) == 0) continue;
    const size_t begin = s.PointerToRawData, end = std::min<size_t>(begin + s.SizeOfRawData, image.bytes.size());
    const unsigned char* b = image.bytes.data();
    for (size_t i = begin; i + 7 <= end; ++i) {
      if (b[i] != 0x64) continue;
      const bool via_eax = b[i + 1] == 0xA3 && std::memcmp(b + i + 2, "\0\0\0\0", 4) == 0;
      const bool via_reg = b[i + 1] == 0x89 && (b[i + 2] & 0xC7) == 0x05 && std::memcmp(b + i + 3, "\0\0\0\0", 4) == 0;
      found += via_eax || via_reg;
    }
  }
  return found;
}

std::string section_name(const IMAGE_SECTION_HEADER& s) {
  return std::string(reinterpret_cast<const char*>(s.Name), strnlen(reinterpret_cast<const char*>(s.Name), 8));
}

TEST(ShippedImages, CarryTheHardeningFlags) {
  int read = 0;
  for (const char* build : {KX_X64_BUILD, KX_X86_BUILD}) {
    for (const char* file : {"KX_Pellam.dll", "KX_Brindel.dll", "kxcall.exe"}) {
      const std::string path = std::string(build) + "/bin/" + file;
      SCOPED_TRACE(path);
      Image image;
      ASSERT_TRUE(load(path, image)) << "not a readable PE file";
      ++read;
      const bool is64 = image.machine == IMAGE_FILE_MACHINE_AMD64;
      EXPECT_EQ(image.machine, std::string(build) == KX_X64_BUILD ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
      const WORD flags = image.dll_characteristics;
      EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
      EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
      // Randomised only if the loader can move it: relocations kept (a
      // 64-bit image of RIP-relative code alone may need none).
      EXPECT_FALSE(image.characteristics & IMAGE_FILE_RELOCS_STRIPPED);
      if (is64) {
        EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA);
        EXPECT_GT(image.image_base, 0xFFFFFFFFull) << "a 64-bit image based below 4 GB";
      } else {
        EXPECT_NE(image.directories[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u);
        EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NO_SEH);
        EXPECT_EQ(handler_frames(image), 0) << "NO_SEH set on code that installs exception handlers";
      }
      for (const auto& s : image.sections) {
        const DWORD c = s.Characteristics;
        const bool writable = (c & IMAGE_SCN_MEM_WRITE) != 0;
        EXPECT_FALSE(writable && (c & IMAGE_SCN_MEM_EXECUTE)) << section_name(s) << " is writable and executable";
        EXPECT_FALSE(writable && (c & IMAGE_SCN_MEM_SHARED)) << section_name(s) << " is writable and shared";
        const DWORD imports = image.directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        if (imports >= s.VirtualAddress && imports < s.VirtualAddress + s.Misc.VirtualSize) {
          EXPECT_FALSE(c & IMAGE_SCN_MEM_EXECUTE) << "the import table lies in executable " << section_name(s);
        }
      }
    }
  }
  EXPECT_EQ(read, 6);
}

}  // namespace
