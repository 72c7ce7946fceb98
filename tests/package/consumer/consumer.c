/* Built with find_package(KX_Pellam) and the mingw import libraries. */
#include <stdio.h>
#include "checks.h"

int main(void) {
  int failed = kx_consumer_checks();
  printf("consumer (%d-bit): %s (0x%x)\n", (int)sizeof(void *) * 8, failed ? "FAILED" : "ok", failed);
  return failed;
}
