// The register-aware allocation pair through which the inflater takes its
// memory, so that an extraction broken off by an error can still give every
// block back.
#pragma once
#include <vector>
#include <zlib.h>

// Blocks that the inflater holds at the moment.
using AllocationRegister = std::vector<void*>;

// zlib's alloc_func/free_func: opaque is the AllocationRegister or null.
voidpf RegisterAwareAlloc(voidpf opaque, uInt items, uInt size);
void RegisterAwareFree(voidpf opaque, voidpf block);
// Frees every block listed in the register and empties it.
void FreeRegisteredBlocks(AllocationRegister& blocks);
