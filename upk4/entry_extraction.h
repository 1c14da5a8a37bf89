// Extraction of one entry into a file (or a directory) below a destination
// directory, in chunks, with progress reports that can stop the work.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>
#include "platform/beneath.h"
#include "upk4/byte_block.h"
#include "upk4/file_closer.h"

class Archive;
class CFile;
class EntryReader;

// Called after each chunk written: (the entry's size, bytes written so far,
// user data); returning false stops the extraction.
using ExtractProgressCallback = bool (*)(uint64_t entrySize, uint64_t written, void* userData);

// How an extraction ended when it raised no error.
enum class ExtractOutcome {
  extracted,      // the file is complete and its CRC-32 checked
  refused,        // an encrypted entry and no password: nothing was written
  incomplete,     // the callback stopped it, or the data ended early
  systemFailure,  // a system call failed: the thread's last error says which
};

// How entries move from the reader to the file. Kept from entry to entry by
// whoever extracts several: its block is reused (allocating it anew for
// every entry of an archive of many small files cost a trip to the system
// and fresh zeroed pages each time).
struct Transfer {
  uint32_t chunkSize = 65535;  // bytes per read, write and callback
  // Chunks read, inflated and written at once. Above 1 only for callbacks
  // that never stop the work (the library's own): a stop must come before
  // anything further is read. With it, compressed input is read in pieces
  // of largeReadSize (128 KiB of input feed about two blocks of output at
  // typical ratios, and keep the peak memory under 4 MiB).
  uint32_t chunksPerTransfer = 1;
  uint32_t largeReadSize = 131072;
  // A large deflated entry may be written behind on a second thread. Off
  // where the caller's own threads keep every processor busy already.
  bool writeBehind = true;
  // Where a written file goes to be closed, when not closed here: its times
  // and attributes are set through its handle first, and the close's
  // result is collected by whoever reports the entry (closeTicket, set by
  // each extraction that handed a file over).
  FileCloser* closer = nullptr;
  std::optional<FileCloser::Ticket> closeTicket;
  // Kept by a worker that writes many files below one destination, for the
  // run of them only (see BeneathCursor): the last directory walked to.
  plat::BeneathCursor* beneath = nullptr;
  ByteBlock block;
};

// One entry extracted. True when the entry was extracted; outcome, when
// given, says how it ended otherwise. With fullPath the directories of the
// name are made below destDir and nothing below it is passed through a link
// (ERROR_STOPPED_ON_SYMLINK). Exceptions (damaged data, a failed write)
// leave it; brokenOff, when given, is set when one left while the entry was
// open for reading (its local header read). Without makeDestination,
// destDir must exist: it is neither probed nor made, so that nothing on the
// way changes the process's current directory (the probe of a directory
// does) and the extraction may run beside other threads.
bool ExtractEntry(const Archive& archive, uint16_t index, std::optional<std::string_view> password,
                  const char16_t* destDir, bool fullPath, const char16_t* newName,
                  ExtractProgressCallback callback, void* userData, Transfer& transfer,
                  ExtractOutcome* outcome = nullptr, bool* brokenOff = nullptr,
                  bool makeDestination = true);

// The entry's bytes from the reader into output, with a callback per chunk.
// written counts the bytes written.
void CopyEntry(EntryReader& reader, CFile& output, ExtractProgressCallback callback,
               void* userData, Transfer& transfer, uint64_t& written);
