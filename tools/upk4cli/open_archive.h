// Opening an archive the way the unpacker library does, for the subcommands.
#pragma once
#include <string>
#include "framework/exception.h"
#include <memory>
#include "upk4/archive.h"

// The exception's message for the user, with a file it names in the form
// the user types paths.
std::string MessageForUser(const CException& e);

// Opens the archive (a native path) as the library does, its volume-name
// pattern the archive's file name. A name that does not exist as given is
// taken as a pattern and formatted with 1. On failure prints
// "upk4: cannot open ARCHIVE: <reason>" to stderr and returns null.
std::unique_ptr<Archive> OpenArchiveForTool(const char* archivePath);
