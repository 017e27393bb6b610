#pragma once

// Small pieces shared by the command sources; not part of the protocol's public face.

#include <chrono>
#include <cstdint>
#include <initializer_list>

#include "base/buffer.h"

namespace veltr::detail {

// The devices need a moment after a rejected byte (and after the warm boot request) before they
// listen again; the same pause serves both.
inline constexpr std::chrono::milliseconds kDeviceSettleTime{50};
void PauseForDevice();

// True when the buffer holds exactly these bytes.
bool Holds(const CVeltrBuffer& buffer, std::initializer_list<uint8_t> bytes);

// A request or answer buffer that does not have the length it was built with could not be
// allocated; such a command is never sent.
bool HasSize(const CVeltrBuffer& buffer, uint32_t size);

}  // namespace veltr::detail
