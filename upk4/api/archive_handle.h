// The record behind the opaque handle of the exports.
#pragma once
#include <cstdint>
#include <memory>
#include "upk4/archive_reader.h"

struct ArchiveHandle {
  std::unique_ptr<ArchiveReader> archive;
  int32_t callerValue1 = 0;  // kept for the caller, never read
  int32_t callerValue2 = 0;  // kept for the caller, never read
};
