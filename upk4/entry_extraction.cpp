// Extraction of one entry into a file (or a directory) below a destination
// directory, in chunks, with progress reports that can stop the work.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <system_error>
#include "framework/file.h"
#include "framework/file_exception.h"
#include "platform/beneath.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "upk4/archive_reader.h"
#include "upk4/extraction_target.h"
#include "upk4/path_functions.h"
#include "upk4/processors.h"
#include "upk4/write_behind.h"
#include "upk4/zip_exception.h"
#include "upk4/zip_format.h"

bool ArchiveReader::GetEntryInfo(EntryRecord& out, uint16_t index) const {
  if (IsClosed() || index >= centralDir.headers.size()) return false;
  out = *centralDir.Header(index);
  return true;
}

bool ArchiveReader::IsDirectoryEntry(uint16_t index) const {
  if (IsClosed() || index >= centralDir.headers.size()) return false;
  return centralDir.Header(index)->IsDirectory();
}

bool ArchiveReader::ExtractEntry(uint16_t index, const char16_t* destDir, bool fullPath,
                                 const char16_t* newName, ExtractProgressCallback callback,
                                 void* userData, uint32_t bufferSize, ExtractOutcome* outcome) {
  ExtractOutcome ignored;
  ExtractOutcome& result = outcome ? *outcome : ignored;
  result = ExtractOutcome::systemFailure;
  // A zero-sized transfer buffer could never deliver a byte, and the copy
  // loop below would never end.
  if (bufferSize == 0) {
    plat::SetLastError(plat::ERROR_INVALID_PARAMETER);
    return false;
  }

  EntryRecord info;
  GetEntryInfo(info, index);
  const plat::WString name = newName ? plat::WString(newName) : info.GetNameWide();
  TargetRefusal refusal;
  const std::optional<plat::WString> target =
      BuildExtractionTarget(destDir ? destDir : u"", name, fullPath, &refusal);
  if (!target) {
    plat::SetLastError(refusal.error);
    return false;
  }

  // With the name's directories, everything below the destination is made
  // by the walk that never passes through a link there: the destination is
  // the caller's choice, what lies below it may be anybody's.
  const plat::WString destination = destDir ? destDir : u"";
  const plat::WString below = fullPath ? GetPathWithoutDrive(name) : plat::WString();
  // The destination itself is made as named, as before.
  if (fullPath && !destination.empty()) CreateDirectoryTree(destination);
  if (IsDirectoryEntry(index)) {
    if (fullPath) {
      // A link in the way is refused, not waved through as a directory
      // that could not be made.
      if (!plat::CreateDirectoriesBeneath(destination, below) &&
          plat::GetLastError() == plat::ERROR_STOPPED_ON_SYMLINK)
        return false;
    } else {
      CreateDirectoryTree(*target);
    }
    plat::SetFileAttributes(*target, info.externalAttributes);
    result = ExtractOutcome::extracted;
    return true;
  }

  if (!OpenEntry(index)) {
    result = ExtractOutcome::refused;
    return false;
  }

  CFile output;
  if (fullPath) {
    const plat::FileHandle handle = plat::CreateFileBeneath(destination, below);
    if (handle == plat::kInvalidFile) {
      const long os = static_cast<long>(plat::GetLastError());
      throw CFileException(CFileException::OsErrorToException(os), os,
                           plat::GetFullPathName(*target));
    }
    output.Attach(handle, *target);
  } else {
    CreateDirectoryTree(GetDirectoryPart(*target));
    CFileException error;
    if (!output.Open(*target, CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite,
                     &error))
      throw error;
  }

  uint64_t written = 0;
  if (chunksPerTransfer > 1)
    CopyInBlocks(output, bufferSize, callback, userData, info, written);
  else
    CopyInChunks(output, bufferSize, callback, userData, info, written);

  // 1 done; -1 stopped or ended early; -2 the attributes, 0 the times could
  // not be set (a system failure either way).
  const int32_t closed = CloseEntry(&output);
  if (closed == 1) result = ExtractOutcome::extracted;
  if (closed == -1) result = ExtractOutcome::incomplete;
  return closed == 1;
}

namespace {

// The callback after one chunk; the first value is not read by any
// receiver, it carries the size of the whole entry.
bool Report(ExtractProgressCallback callback, void* userData, const EntryRecord& info,
            uint64_t written) {
  return callback == nullptr || callback(info.uncompressedSize, written, userData);
}

}  // namespace

// Kept from entry to entry, grown when an entry needs more: allocating it
// anew for every entry of an archive of many small files cost a trip to the
// system and fresh zeroed pages each time.
uint8_t* ArchiveReader::TransferBlock(uint32_t size) {
  if (transferBlock.size < size) transferBlock.Allocate(size, false);
  return transferBlock.data;
}

void ArchiveReader::CopyInChunks(CFile& output, uint32_t chunk, ExtractProgressCallback callback,
                                 void* userData, const EntryRecord& info, uint64_t& written) {
  uint8_t* const data = TransferBlock(chunk);
  uint32_t n = 0;
  do {
    n = ReadEntry(data, chunk);
    if (n > 0) {
      output.Write(data, n);
      written += n;
      if (!Report(callback, userData, info, written)) return;
    }
  } while (n == chunk);
}

// Several chunks per read, inflate and write, with the callbacks that the
// chunks would have given, in the same order and with the same values. Used
// only with callbacks that never stop the work: a stop must come before
// anything further is read. Whatever goes wrong inside a block is done
// again the chunk-by-chunk way, so that failures, too, leave the same file
// behind and the same callbacks made. A large deflated entry is written
// behind: each block's CRC-32 and write run on a second thread while the
// next block is decoded, and its callbacks follow once it is written.
void ArchiveReader::CopyInBlocks(CFile& output, uint32_t chunk, ExtractProgressCallback callback,
                                 void* userData, const EntryRecord& info, uint64_t& written) {
  // No more chunks than the entry claims to fill (any number gives the same
  // result, so a wrong size only costs speed): small entries take small
  // blocks.
  const EntryRecord& entry = *centralDir.currentEntry;
  const uint64_t claimed = entry.uncompressedSize / chunk + 1;
  const uint32_t chunks = static_cast<uint32_t>(std::max<uint64_t>(
      1, std::min<uint64_t>({chunksPerTransfer, claimed, UINT32_MAX / 2 / chunk})));
  const uint32_t blockSize = chunk * chunks;
  // A deflated entry of more than one block is written behind, unless the
  // decoding keeps the second processor busy itself. Stored data gains
  // nothing: reading it costs no more than writing it.
  const bool behind = entry.method == zip::kMethodDeflated && entry.uncompressedSize > blockSize &&
                      !decode.inflater.BusiesSecondProcessor() && SeveralProcessors();
  uint8_t* const blocks = TransferBlock(behind ? 2 * blockSize : blockSize);
  // Compressed input in larger reads too; the chunk-by-chunk repetition
  // goes back to the configured size.
  const uint32_t configuredRead = decode.readBuffer.size;
  if (entry.method == zip::kMethodDeflated && entry.compressedSize > configuredRead &&
      largeReadSize > configuredRead)
    decode.readBuffer.Allocate(
        static_cast<uint32_t>(std::min<uint64_t>(largeReadSize, entry.compressedSize)), false);

  // A block written (whole when whole is true), and its callbacks. A
  // failed write is done again chunk by chunk, so that the chunks before
  // the failing one are reported.
  const auto deliver = [&](const uint8_t* block, uint32_t n, bool whole) {
    if (!whole) output.Seek(static_cast<int64_t>(written), CFile::begin);
    for (uint32_t at = 0; at < n; at += chunk) {
      const uint32_t k = std::min(chunk, n - at);
      if (!whole) output.Write(block + at, k);
      written += k;
      Report(callback, userData, info, written);
    }
  };
  struct CrcByCaller {
    DecodeState& decode;
    ~CrcByCaller() { decode.crcByCaller = false; }
  } crcByCaller{decode};
  std::optional<WriteBehind> writer;
  if (behind) {
    try {
      writer.emplace(output, decode.runningCrc);
      decode.crcByCaller = true;
    } catch (const std::system_error&) {
      // No thread to be had: the blocks are written in line.
    }
  }
  const uint8_t* handed = nullptr;  // the block in the writer's hands
  uint32_t handedSize = 0;
  // Waits for the block in the writer's hands, takes the CRC-32 so far,
  // and makes the block's callbacks.
  const auto settle = [&] {
    if (handed == nullptr) return;
    const uint8_t* const done = handed;
    handed = nullptr;
    const bool whole = writer->Wait();
    decode.runningCrc = writer->Crc();
    deliver(done, handedSize, whole);
  };

  uint8_t* block = blocks;
  uint32_t n = 0;
  do {
    try {
      n = ReadEntry(block, blockSize);
    } catch (const CException&) {
      // Damage inside this block: the block before it is finished first (a
      // failed write of it ends the entry, as it would have before this
      // block was read). Then from the entry's start again, through the
      // stretch already written, then on chunk by chunk to the failure.
      settle();
      const uint64_t start = written;
      decode.crcByCaller = false;
      RestartEntry(configuredRead);
      for (uint64_t skipped = 0; skipped < start;) {
        const uint32_t k = ReadEntry(block, chunk);
        if (k == 0) RaiseError(kZipBadArchive, EntryDetail("compressed data ends early"));
        skipped += k;
      }
      CopyInChunks(output, chunk, callback, userData, info, written);
      return;
    }
    if (!writer) {
      bool whole = true;
      try {
        output.Write(block, n);
      } catch (const CException&) {
        whole = false;
      }
      deliver(block, n, whole);
      continue;
    }
    settle();
    writer->Hand(block, n);
    handed = block;
    handedSize = n;
    block = block == blocks ? blocks + blockSize : blocks;
  } while (n == blockSize);
  settle();
  decode.crcByCaller = false;
  // The chunk loop reads once more after a run of full chunks, and that read
  // drains the stream (or finds it damaged).
  if (n % chunk == 0) ReadEntry(block, chunk);
}
