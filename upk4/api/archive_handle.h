// The record behind the opaque handle of the exports.
#pragma once
#include <cstdint>
#include <memory>
#include "upk4/archive_reader.h"

struct ArchiveHandle {
  std::unique_ptr<ArchiveReader> archive;
  int32_t callerValue1 = 0;  // kept for the caller, never read
  int32_t callerValue2 = 0;  // kept for the caller, never read
  // An extraction of this handle broke off inside an entry (CRC, data
  // descriptor, damaged data): the close reports it, as closing the entry
  // would have, although the entry was dropped to keep the handle usable.
  bool entryFailed = false;
};
