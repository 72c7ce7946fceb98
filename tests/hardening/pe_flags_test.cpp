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

// Code that links a frame into the thread's exception-handler chain stores to
// fs:[0]: mov fs:[0], reg (64 89 /r with a bare displacement of 0) or
// mov fs:[0], eax (64 A3 00000000).
int handler_frames(const unsigned char* b, size_t begin, size_t end) {
  int found = 0;
  for (size_t i = begin; i + 7 <= end; ++i) {
    if (b[i] != 0x64) continue;
    found += (b[i + 1] == 0xA3 && std::memcmp(b + i + 2, "\0\0\0\0", 4) == 0) ||
             (b[i + 1] == 0x89 && (b[i + 2] & 0xC7) == 0x05 && std::memcmp(b + i + 3, "\0\0\0\0", 4) == 0);
  }
  return found;
}

TEST(ShippedImages, CarryTheHardeningFlags) {
  int read = 0;
  for (const char* build : {KX_X64_BUILD, KX_X86_BUILD}) {
    const bool is64 = std::string(build) == KX_X64_BUILD;
    for (const char* file : {"KX_Pellam.dll", "KX_Brindel.dll", "kxcall.exe"}) {
      const std::string path = std::string(build) + "/bin/" + file;
      SCOPED_TRACE(path);
      std::ifstream in(path, std::ios::binary);
      const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      ASSERT_GT(bytes.size(), 1024u) << "not read";
      const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
      ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
      ASSERT_LT(static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64), bytes.size());
      const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(bytes.data() + dos->e_lfanew);
      const auto* nt64 = reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt);
      ASSERT_EQ(nt->Signature, IMAGE_NT_SIGNATURE);
      ASSERT_EQ(nt->FileHeader.Machine, is64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
      ++read;
      const WORD flags = is64 ? nt64->OptionalHeader.DllCharacteristics : nt->OptionalHeader.DllCharacteristics;
      const IMAGE_DATA_DIRECTORY* dirs = is64 ? nt64->OptionalHeader.DataDirectory : nt->OptionalHeader.DataDirectory;
      EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
      EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
      // Randomised only if the loader can move it: relocations kept (a
      // 64-bit image of RIP-relative code alone may need none).
      EXPECT_FALSE(nt->FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
      if (is64) {
        EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA);
        EXPECT_GT(nt64->OptionalHeader.ImageBase, 0xFFFFFFFFull) << "a 64-bit image based below 4 GB";
      } else {
        EXPECT_NE(dirs[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u);
        EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NO_SEH);
      }
      const auto* sections = IMAGE_FIRST_SECTION(nt);
      ASSERT_LE(reinterpret_cast<const unsigned char*>(sections + nt->FileHeader.NumberOfSections),
                bytes.data() + bytes.size());
      int frames = 0;
      for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
        const IMAGE_SECTION_HEADER& s = sections[i];
        const std::string name(reinterpret_cast<const char*>(s.Name), strnlen(reinterpret_cast<const char*>(s.Name), 8));
        const DWORD c = s.Characteristics, imports = dirs[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        const bool writable = (c & IMAGE_SCN_MEM_WRITE) != 0, executable = (c & IMAGE_SCN_MEM_EXECUTE) != 0;
        EXPECT_FALSE(writable && executable) << name << " is writable and executable";
        EXPECT_FALSE(writable && (c & IMAGE_SCN_MEM_SHARED)) << name << " is writable and shared";
        const bool holds_imports = imports >= s.VirtualAddress && imports < s.VirtualAddress + s.Misc.VirtualSize;
        EXPECT_FALSE(holds_imports && executable) << "the import table lies in executable " << name;
        if (executable) {
          frames += handler_frames(bytes.data(), s.PointerToRawData,
                                   std::min<size_t>(s.PointerToRawData + s.SizeOfRawData, bytes.size()));
        }
      }
      if (!is64) {
        EXPECT_EQ(frames, 0) << "NO_SEH set on code that installs exception handlers";
      }
    }
  }
  EXPECT_EQ(read, 6);
}

}  // namespace
