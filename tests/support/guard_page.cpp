#include "support/guard_page.h"

namespace kxtest::detail {

std::size_t page_size() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwPageSize;
}

}  // namespace kxtest::detail
