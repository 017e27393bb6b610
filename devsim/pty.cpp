#include "devsim/pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace devsim {

bool OpenPtyPair(PtyPair& pair, std::string* error) {
  auto fail = [&](const char* step) {
    if (error != nullptr) {
      *error = std::string(step) + ": " + std::strerror(errno);
    }
    ClosePtyPair(pair);
    return false;
  };
  pair.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pair.master < 0) {
    return fail("posix_openpt");
  }
  if (grantpt(pair.master) != 0 || unlockpt(pair.master) != 0) {
    return fail("unlockpt");
  }
  char path[128];
  if (ptsname_r(pair.master, path, sizeof path) != 0) {
    return fail("ptsname");
  }
  pair.slavePath = path;
  pair.slave = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pair.slave < 0) {
    return fail(path);
  }
  termios t;
  if (tcgetattr(pair.slave, &t) != 0) {
    return fail("tcgetattr");
  }
  cfmakeraw(&t);
  if (tcsetattr(pair.slave, TCSANOW, &t) != 0) {
    return fail("tcsetattr");
  }
  return true;
}

void ClosePtyPair(PtyPair& pair) {
  for (int* fd : {&pair.slave, &pair.master}) {
    if (*fd >= 0) {
      close(*fd);
      *fd = -1;
    }
  }
}

}  // namespace devsim
