#include "test_support.h"

#include <cstdio>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

long stdoutBytesSoFar() {
  std::fflush(stdout);
#ifdef _WIN32
  const long real = _lseek(_fileno(stdout), 0, SEEK_CUR);
#else
  const long real = static_cast<long>(lseek(fileno(stdout), 0, SEEK_CUR));
#endif
  return real + static_cast<long>(fake_process::process().written.size());
}
