#pragma once

#include <cstring>

#include "base/buffer.h"
#include "support/scripted_port.h"

namespace veltr::test {

// The bytes a buffer holds, as a command would put them on the wire.
inline Bytes BytesOf(const CVeltrBuffer& buffer) {
  Bytes out(buffer.GetSize());
  if (!out.empty()) {
    std::memcpy(out.data(), buffer.At(0), out.size());
  }
  return out;
}

}  // namespace veltr::test
