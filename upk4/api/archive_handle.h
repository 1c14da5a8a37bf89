// The record behind the opaque handle of the exports.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include "upk4/archive.h"
#include "upk4/entry_extraction.h"

struct ArchiveHandle {
  std::unique_ptr<Archive> archive;
  // The password's bytes, when one was given and taken.
  std::optional<std::string> password;
  // Of every extraction through this handle, its block reused.
  Transfer transfer;
  int32_t callerValue1 = 0;  // kept for the caller, never read
  int32_t callerValue2 = 0;  // kept for the caller, never read
  // An extraction of this handle broke off inside an entry (CRC, data
  // descriptor, damaged data): the close reports it, as closing the entry
  // would have, although the entry was dropped to keep the handle usable.
  bool entryFailed = false;
};
