// The machine of a Windows image, so that a package for one Windows target
// is never made from the binaries of another.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "pack_options.h"

namespace upkpack {

inline constexpr uint16_t kMachineI386 = 0x014C;
inline constexpr uint16_t kMachineAmd64 = 0x8664;

// The COFF machine field of a PE image (MZ header, e_lfanew, "PE\0\0");
// nothing when the bytes are not a PE image.
std::optional<uint16_t> PeMachine(const std::string& headerBytes);

// For a Windows target, throws PackError unless each of the four inputs is
// a PE image for the target's machine. Nothing for the native target.
void CheckWindowsInputs(const PackOptions& options);

}  // namespace upkpack
