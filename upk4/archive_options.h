// How an archive is opened: the name pattern of its further volumes, the
// sizes of its reads, and where its bytes come from. Fixed for the life of
// the archive.
#pragma once
#include <cstdint>
#include "platform/win_types.h"

class VolumeStorage;

struct ArchiveOptions {
  // The file-name part from which the volumes of a split archive are named
  // ("data%d.zip"): integer conversions take the volume's number. Empty:
  // the name of the file opened.
  plat::WString volumeNamePattern;
  // Compressed input is read in pieces of this size (at least 1024).
  uint32_t readBufferSize = 16384;
  // The end record is searched for backwards in pieces of this size.
  uint32_t searchBufferSize = 32768;
  // The fast inflater decodes once the deflated entries opened so far claim
  // this much output in all (0: from the first), so that reading a few
  // small entries never pays for loading it.
  uint64_t fastInflaterFrom = 0;
  // A single file's directory is read whole (up to 64 MiB) and its records
  // made on first use; false reads it record by record, as a split
  // archive's always is.
  bool readDirectoryWhole = true;
  // Where the volumes come from; null means real files. Must outlive the
  // archive.
  VolumeStorage* storage = nullptr;
};

// As the library opens an archive for the caller of its exports, with the
// volume-name pattern given (the file-name part of the path it was given).
// The tools and the second stage open theirs the same way.
ArchiveOptions LibraryArchiveOptions(plat::WStringView volumeNamePattern);
