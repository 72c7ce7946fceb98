/* What a consumer checks through the installed headers and import libraries.
 * No C runtime here: the lld-link consumer runs without one. Returns a bit
 * per failed check, 0 when all hold. */
#include <KX_Pellam.h>
#include <KX_Brindel.h>

static int kx_same_w(const WCHAR *a, const WCHAR *b) {
  while (*a && *a == *b) { ++a; ++b; }
  return *a == *b;
}

static int kx_consumer_checks(void) {
  WCHAR quoted[8];
  int failed = 0;
  /* A 64-bit process, or a 32-bit one under WoW64. */
  if (KX_QueryArchitecture() != (sizeof(void *) == 8 ? 1 : 2)) failed |= 1;
  if (KX_QueryProductTypeW() != 1 || KX_QueryProductTypeA() != 1) failed |= 2;
  if (!KX_SetDoublequoteW(L"a b", quoted, 8) || !kx_same_w(quoted, L"\"a b\"")) failed |= 4;
  /* "a b c d" quoted needs 10 characters: refused, the buffer emptied. */
  if (KX_SetDoublequoteW(L"a b c d", quoted, 8) || quoted[0]) failed |= 8;
  return failed;
}
