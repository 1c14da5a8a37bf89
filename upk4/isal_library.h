// ISA-L's entry points, bound on first need rather than at start-up.
// Mapping the library and binding its symbols costs about half a
// millisecond, as much as looking up one entry of a large archive, and only
// large entries gain from its speed. A process that reads nothing large
// never maps it. Without the library zlib does all the work, with the same
// results.
#pragma once
#ifdef UPK_WITH_ISAL
#include <cstdint>

struct inflate_state;

struct IsalEntryPoints {
  void (*init)(inflate_state* state);
  int (*inflate)(inflate_state* state);
  uint32_t (*crc)(uint32_t crc, const unsigned char* data, uint64_t size);
};

// Loads the library on the first call (once per process, from any thread);
// null when it cannot be loaded or lacks an entry point.
const IsalEntryPoints* BindIsal();
// The entry points if an earlier BindIsal bound them, else null; never loads.
const IsalEntryPoints* BoundIsal();
#endif
