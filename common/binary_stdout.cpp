#include "json_output.h"

#include <cstdio>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

void setBinaryStdout() {
#ifdef _WIN32
  // Without this the C runtime turns every line feed into CR LF. The result is of no use.
  (void)_setmode(_fileno(stdout), _O_BINARY);
#endif
}
