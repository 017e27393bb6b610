// A pseudo-terminal pair for the simulator: the device sits on the master, a host opens the slave.
#pragma once

#include <string>

namespace devsim {

struct PtyPair {
  int master = -1;
  int slave = -1;  // kept open so the master never sees a hang-up between two host sessions
  std::string slavePath;
};

// Opens a pair and puts the slave in raw mode once, leaving its speed as the kernel set it.
bool OpenPtyPair(PtyPair& pair, std::string* error);
void ClosePtyPair(PtyPair& pair);

}  // namespace devsim
