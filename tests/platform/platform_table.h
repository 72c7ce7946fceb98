// The published decision table of the platform predicates, kept apart from
// the library so that each predicate's answer can be checked against the
// system facts it was given.
#pragma once

#include <windows.h>

#include <vector>

namespace kxtest {

struct Facts {
  DWORD major = 0, minor = 0;
  WORD service_pack = 0;
  WORD suite = 0;
  BYTE product_type = 0;
  int architecture = 0;  // 0 32-bit system, 1 64-bit process, 2 WOW64
};

enum class Test { kExact, kMinimum };
enum class SuiteRule { kAny, kHomeServerSet, kHomeServerClear };

struct PredicateRow {
  const char* name;
  int(WINAPI* wide)(int);
  int(WINAPI* narrow)(int);
  Test test;
  DWORD major, minor;
  bool server;
  bool x64;
  SuiteRule suite;
};

const std::vector<PredicateRow>& predicate_rows();

// What the row must answer on a system with these facts.
int expected_answer(const PredicateRow& row, const Facts& facts, int service_pack);

}  // namespace kxtest
