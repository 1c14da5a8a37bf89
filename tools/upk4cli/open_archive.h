// Opening an archive the way the unpacker library does, for the subcommands.
#pragma once
#include "upk4/archive_reader.h"

// Sets the volume-name pattern from the archive's file name, the buffer
// sizes of the library, and opens the archive (a native path). On failure
// prints "upk4: cannot open ARCHIVE: <reason>" to stderr and returns false.
bool OpenArchiveForTool(ArchiveReader& reader, const char* archivePath);
