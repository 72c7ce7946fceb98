// Reads a PE file from disk, whatever its architecture, so that the 32-bit
// DLL (which cannot be run here) can be examined as data.
#pragma once

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

namespace kxtest {

struct ExportEntry {
  std::string name;
  unsigned ordinal;
  bool operator==(const ExportEntry&) const = default;
  bool operator<(const ExportEntry& o) const { return ordinal < o.ordinal; }
  friend void PrintTo(const ExportEntry& e, std::ostream* os) { *os << e.name << " @" << e.ordinal; }
};

struct PeImage {
  bool ok = false;
  WORD machine = 0;
  std::vector<ExportEntry> exports;       // named exports, sorted by ordinal
  unsigned unnamed_exports = 0;           // exports reachable by ordinal only
  std::vector<std::string> imported_dlls;  // as the import table spells them
};

PeImage read_pe(const std::wstring& path);

}  // namespace kxtest
