// One ZIP archive open for reading: central directory, storage, password,
// the decoding state of the entry being extracted, and the register of the
// inflater's memory.
#pragma once
#include <cstdint>
#include "framework/file.h"
#include <string>
#include "upk4/byte_block.h"
#include "upk4/central_directory.h"
#include "upk4/decode_state.h"
#include "upk4/entry_record.h"
#include "upk4/volume_set.h"

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

// Whether an entry is open for extraction (the values are the ones the
// reader has always kept).
enum class EntryState : int8_t {
  none = 0,   // no entry open: one may be opened, the password changed
  open = -1,  // OpenEntry succeeded; CloseEntry, AbandonEntry or the
              // archive's Close ends it
};

class ArchiveReader {
 public:
  enum Which { archive, archiveFile };

  ArchiveReader();
  virtual ~ArchiveReader();
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  bool IsClosed(Which which = archive) const {
    if (which == archive) return storage.GetCurrentVolume() == -1;
    return storage.currentFile == nullptr;
  }
  void Open(plat::WStringView path);
  void Close(bool afterError = false);
  void SetBufferSizes(int32_t writeSize, int32_t readSize, int32_t searchSize);
  bool SetPassword(const char16_t* password);
  int32_t FindEntry(plat::WStringView name, bool caseSensitive = false);
  // FindEntry without noting what it found.
  int32_t FindEntryAnyWay(plat::WStringView name, bool caseSensitive);
  void EnableNameIndex(bool on);
  // Ends the open entry with its verdict. With the file it was extracted
  // into: sets the file's times, closes it, then sets its attributes.
  int32_t CloseEntry(CFile* output);
  // Drops the open entry without a verdict after an error broke off its
  // extraction, so that the archive can extract further entries. True when
  // an entry was open.
  bool AbandonEntry();
  // Drops whatever entry state there is without a verdict or an orderly
  // end of the inflater (the archive's close after an error, and its open).
  void ForgetEntry();
  void FreeRegisteredAllocations() { FreeRegisteredBlocks(allocations); }

  // Decoding of one entry.
  bool OpenEntry(uint16_t index);
  uint32_t ReadEntry(void* buffer, uint32_t count);
  // Counters and inflater for the entry that SeekEntry made current.
  void StartDecoding();
  // The open entry from its first byte again, with reads of readSize.
  void RestartEntry(uint32_t readSize);
  // Fills the read buffer with the next compressed bytes (decrypted).
  void RefillInput();
  // Positions the open deflated entry on its first byte again, with zlib as
  // its inflater, and decodes the given number of bytes into nowhere.
  void RestartThroughZlib(uint64_t skip);
  [[noreturn]] void RaiseError(int32_t code, std::string detail = {}) const;
  void CheckInflateResult(int result) const;
  // "entry N: problem" for the entry being decoded.
  std::string EntryDetail(const std::string& problem) const;

  // Extraction. True when the entry was extracted; *outcome, when given,
  // says how it ended otherwise. With fullPath the directories of the name
  // are made below destDir and nothing below it is passed through a link
  // (ERROR_STOPPED_ON_SYMLINK).
  bool ExtractEntry(uint16_t index, const char16_t* destDir, bool fullPath,
                    const char16_t* newName, ExtractProgressCallback callback,
                    void* userData, uint32_t bufferSize, ExtractOutcome* outcome = nullptr);
  bool GetEntryInfo(EntryRecord& out, uint16_t index) const;
  // The copy loops of ExtractEntry: one chunk per read and write, or blocks
  // of chunksPerTransfer chunks with the same callbacks.
  void CopyInChunks(CFile& output, uint32_t chunk, ExtractProgressCallback callback,
                    void* userData, const EntryRecord& info, uint64_t& written);
  void CopyInBlocks(CFile& output, uint32_t chunk, ExtractProgressCallback callback,
                    void* userData, const EntryRecord& info, uint64_t& written);
  // At least size bytes for the copy loops.
  uint8_t* TransferBlock(uint32_t size);
  bool IsDirectoryEntry(uint16_t index) const;

  size_t GetEntryCount() const { return centralDir.headers.size(); }
  const EntryRecord* GetEntry(size_t index) const { return centralDir.Header(index); }

  // Traditional PKWARE decryption.
  void InitKeys();
  void UpdateKeys(uint8_t b);
  uint8_t DecryptByte() const;
  bool CheckEncryptionHeader();
  void DecryptBuffer(uint32_t count);
  // Decrypts count bytes at p in place when the current entry is encrypted.
  void DecryptBytes(uint8_t* p, uint32_t count);

  // Chunks read, inflated and written at once by ExtractEntry. Above 1 only
  // for callbacks that never stop the work (the library's own): a stop must
  // come before anything further is read. With it, compressed input is read
  // in pieces of largeReadSize (128 KiB of input feed about two blocks of
  // output at typical ratios, and keep the peak memory under 4 MiB).
  uint32_t chunksPerTransfer = 1;
  uint32_t largeReadSize = 131072;
  ByteBlock transferBlock;  // of the copy loops, until the archive closes

  bool useAllocationRegister = true;
  CentralDirectory centralDir;
  ByteBlock password;
  DecodeState decode;
  VolumeSet storage;
  AllocationRegister allocations;
  uint32_t keys[3] = {0, 0, 0};
  EntryState entryState = EntryState::none;
};
