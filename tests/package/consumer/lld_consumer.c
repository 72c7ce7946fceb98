/* Linked by lld-link against the MSVC-style import libraries, with no C
 * runtime: the process exit code is the checks' result. */
#include "checks.h"

int consumer_entry(void) { return kx_consumer_checks(); }
