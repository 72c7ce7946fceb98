#include "registry_watch.h"

namespace kxtest {

ClassesRootBefore::ClassesRootBefore(const std::string& extension, const std::string& class_name)
    : ext(HKEY_CLASSES_ROOT, wide("." + extension).c_str()),
      cls(HKEY_CLASSES_ROOT, wide(class_name).c_str()),
      dot(HKEY_CLASSES_ROOT, L"."),
      root_default(read_value(HKEY_CLASSES_ROOT, L"", nullptr)) {}

::testing::AssertionResult Unchanged(const ClassesRootBefore& before) {
  bool same = true;
  ::testing::Message changes;
  for (const RegistrySnapshot* snapshot : {&before.ext, &before.cls, &before.dot}) {
    if (const ::testing::AssertionResult r = Unchanged(*snapshot); !r) {
      same = false;
      changes << r.message() << "\n";
    }
  }
  const auto root_now = read_value(HKEY_CLASSES_ROOT, L"", nullptr);
  if (root_now.has_value() != before.root_default.has_value() ||
      (root_now && root_now->bytes != before.root_default->bytes)) {
    same = false;
    changes << "HKEY_CLASSES_ROOT's own default value changed";
  }
  if (same) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << changes;
}

}  // namespace kxtest
