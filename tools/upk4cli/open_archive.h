// Opening an archive the way the unpacker library does, for the subcommands.
#pragma once
#include <string>
#include "framework/exception.h"
#include "upk4/archive_reader.h"

// The exception's message for the user, with a file it names in the form
// the user types paths.
std::string MessageForUser(const CException& e);

// Sets the volume-name pattern from the archive's file name, the buffer
// sizes of the library, and opens the archive (a native path). A name that
// does not exist as given is taken as a pattern and formatted with 1. On failure
// prints "upk4: cannot open ARCHIVE: <reason>" to stderr and returns false.
bool OpenArchiveForTool(ArchiveReader& reader, const char* archivePath);
