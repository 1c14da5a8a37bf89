#include "upk4/entry_extraction.h"
#include <algorithm>
#include <cstdint>
#include <optional>
#include <exception>
#include "framework/file.h"
#include "framework/file_exception.h"
#include "platform/beneath.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/local_time.h"
#include "upk4/archive.h"
#include "upk4/extraction_target.h"
#include "upk4/path_functions.h"
#include "upk4/processors.h"
#include "upk4/write_behind.h"
#include "upk4/zip_exception.h"
#include "upk4/zip_format.h"

namespace {

// The callback after one chunk; the first value is not read by any
// receiver, it carries the size of the whole entry.
bool Report(ExtractProgressCallback callback, void* userData, const EntryRecord& info,
            uint64_t written) {
  return callback == nullptr || callback(info.uncompressedSize, written, userData);
}

// At least size bytes of the transfer's block.
uint8_t* TransferBlock(Transfer& transfer, uint32_t size) {
  if (transfer.block.size < size) transfer.block.Allocate(size, false);
  return transfer.block.data;
}

void CopyInChunks(EntryReader& reader, CFile& output, ExtractProgressCallback callback,
                  void* userData, Transfer& transfer, uint64_t& written) {
  const uint32_t chunk = transfer.chunkSize;
  uint8_t* const data = TransferBlock(transfer, chunk);
  uint32_t n = 0;
  do {
    n = reader.Read(data, chunk);
    if (n > 0) {
      output.Write(data, n);
      written += n;
      if (!Report(callback, userData, reader.Entry(), written)) return;
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
void CopyInBlocks(EntryReader& reader, CFile& output, ExtractProgressCallback callback,
                  void* userData, Transfer& transfer, uint64_t& written) {
  const EntryRecord& entry = reader.Entry();
  const uint32_t chunk = transfer.chunkSize;
  // No more chunks than the entry claims to fill (any number gives the same
  // result, so a wrong size only costs speed): small entries take small
  // blocks.
  const uint64_t claimed = entry.uncompressedSize / chunk + 1;
  const uint32_t chunks = static_cast<uint32_t>(std::max<uint64_t>(
      1, std::min<uint64_t>({transfer.chunksPerTransfer, claimed, UINT32_MAX / 2 / chunk})));
  const uint32_t blockSize = chunk * chunks;
  // A compressed entry of more than one block is written behind. Stored
  // data gains nothing: reading it costs no more than writing it.
  const bool compressed = entry.method != zip::kMethodStored;
  const bool behind = transfer.writeBehind && compressed && entry.uncompressedSize > blockSize &&
                      SeveralProcessors();
  // The block being decoded into and, written behind, the block in the
  // writer's hands: two halves of one allocation, swapped after each block.
  uint8_t* const blocks = TransferBlock(transfer, behind ? 2 * blockSize : blockSize);
  // Compressed input in larger reads too; the chunk-by-chunk repetition
  // goes back to the configured size.
  const uint32_t configuredRead = reader.ReadSize();
  if (compressed && entry.compressedSize > configuredRead &&
      transfer.largeReadSize > configuredRead)
    reader.SetReadSize(
        static_cast<uint32_t>(std::min<uint64_t>(transfer.largeReadSize, entry.compressedSize)));

  // A block written (whole when whole is true), and its callbacks. A
  // failed write is done again chunk by chunk, so that the chunks before
  // the failing one are reported.
  const auto deliver = [&](const uint8_t* block, uint32_t n, bool whole) {
    if (!whole) output.Seek(static_cast<int64_t>(written), CFile::begin);
    for (uint32_t at = 0; at < n; at += chunk) {
      const uint32_t k = std::min(chunk, n - at);
      if (!whole) output.Write(block + at, k);
      written += k;
      Report(callback, userData, entry, written);
    }
  };
  struct CrcByCaller {
    EntryReader& reader;
    ~CrcByCaller() { reader.SetCrcByCaller(false); }
  } crcByCaller{reader};
  std::optional<WriteBehind> writer;
  if (behind) {
    try {
      writer.emplace(output, reader.Crc());
      reader.SetCrcByCaller(true);
    } catch (const std::exception&) {
      // No thread to be had, or no memory for one (see FileCloser): the
      // blocks are written in line.
    }
  }
  // The hand-over: the block in the writer's hands (handed) is neither
  // read into nor freed until settle() has waited for it; the decoding
  // goes on in the other half meanwhile.
  const uint8_t* handed = nullptr;
  uint32_t handedSize = 0;
  // Waits for the block in the writer's hands, takes the CRC-32 so far,
  // and makes the block's callbacks.
  const auto settle = [&] {
    if (handed == nullptr) return;
    const uint8_t* const done = handed;
    handed = nullptr;
    const bool whole = writer->Wait();
    reader.SetCrc(writer->Crc());
    deliver(done, handedSize, whole);
  };

  uint8_t* block = blocks;
  uint32_t n = 0;
  do {
    try {
      n = reader.Read(block, blockSize);
    } catch (const CException&) {
      // Damage inside this block: the block before it is finished first (a
      // failed write of it ends the entry, as it would have before this
      // block was read). Then from the entry's start again, through the
      // stretch already written, then on chunk by chunk to the failure.
      settle();
      const uint64_t start = written;
      reader.SetCrcByCaller(false);
      reader.Restart(configuredRead);
      for (uint64_t skipped = 0; skipped < start;) {
        const uint32_t k = reader.Read(block, chunk);
        if (k == 0) reader.RaiseError(kZipBadArchive, reader.Detail("compressed data ends early"));
        skipped += k;
      }
      CopyInChunks(reader, output, callback, userData, transfer, written);
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
  reader.SetCrcByCaller(false);
  // The chunk loop reads once more after a run of full chunks, and that read
  // drains the stream (or finds it damaged).
  if (n % chunk == 0) reader.Read(block, chunk);
}

// The entry's verdict, then the file's times, its close and attributes,
// then the data descriptor. 1 done; -1 stopped or ended early; -2 the
// attributes, 0 the times could not be set (a system failure either way).
// With a closer the attributes are set through the handle and the file is
// handed over to be closed: the close's failure, collected later, wins over
// what follows it here, as a failed close here would.
int32_t FinishExtraction(EntryReader& reader, CFile& output, Transfer& transfer) {
  int32_t result = reader.Finish();
  const EntryRecord& entry = reader.Entry();
  try {
    // Through the open file: its name is not looked up again.
    const plat::CalendarTime now = plat::CurrentTime();
    output.SetTimes(now, now, entry.GetModificationTime());
  } catch (const CException&) {
    return 0;
  }
  const plat::WString path = output.GetFilePath();
  if (transfer.closer) {
    if (!plat::SetFileHandleAttributes(output.GetHandle(), entry.externalAttributes)) result = -2;
    transfer.closeTicket = transfer.closer->Hand(output.Detach(), path);
  } else {
    output.Close();  // a failed close throws, as a failed write
    if (!plat::SetFileAttributes(path, entry.externalAttributes)) result = -2;
  }
  reader.CheckDescriptor();
  return result;
}

}  // namespace

void CopyEntry(EntryReader& reader, CFile& output, ExtractProgressCallback callback,
               void* userData, Transfer& transfer, uint64_t& written) {
  if (transfer.chunksPerTransfer > 1)
    CopyInBlocks(reader, output, callback, userData, transfer, written);
  else
    CopyInChunks(reader, output, callback, userData, transfer, written);
}

bool ExtractEntry(const Archive& archive, uint16_t index, std::optional<std::string_view> password,
                  const char16_t* destDir, bool fullPath, const char16_t* newName,
                  ExtractProgressCallback callback, void* userData, Transfer& transfer,
                  ExtractOutcome* outcome, bool* brokenOff, bool makeDestination) {
  ExtractOutcome ignored;
  ExtractOutcome& result = outcome ? *outcome : ignored;
  result = ExtractOutcome::systemFailure;
  // A zero-sized chunk could never deliver a byte, and the copy loop would
  // never end.
  if (transfer.chunkSize == 0 || index >= archive.EntryCount()) {
    plat::SetLastError(plat::ERROR_INVALID_PARAMETER);
    return false;
  }

  const EntryRecord& info = archive.Entry(index);
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
  if (makeDestination && fullPath && !destination.empty()) CreateDirectoryTree(destination);
  if (info.IsDirectory()) {
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

  std::unique_ptr<EntryReader> reader = archive.OpenEntry(index, password);
  if (!reader) {
    result = ExtractOutcome::refused;
    return false;
  }
  try {
    CFile output;
    // A file of this name still being closed (an earlier entry of the same
    // name) is closed before the name is made again.
    if (transfer.closer) transfer.closer->Settle(*target);
    if (fullPath) {
      const plat::FileHandle handle = plat::CreateFileBeneath(destination, below, transfer.beneath);
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
    CopyEntry(*reader, output, callback, userData, transfer, written);
    const int32_t closed = FinishExtraction(*reader, output, transfer);
    if (closed == 1) result = ExtractOutcome::extracted;
    if (closed == -1) result = ExtractOutcome::incomplete;
    return closed == 1;
  } catch (...) {
    if (brokenOff) *brokenOff = true;
    throw;
  }
}
