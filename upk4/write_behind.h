// The CRC-32 and the write of one block on a second thread, while the
// caller's thread decodes the next block. Decoding a deflated block is the
// long part; taking its CRC and handing it to the file system take about a
// tenth as long again, and here they take none of the decoding's time.
// One block at a time is in hand; the caller keeps its bytes untouched and
// the file to itself until Wait, and makes every progress callback itself,
// after Wait, so that they come in the same order from the same thread.
#pragma once
#include <cstdint>
#include "platform/threads.h"

class CFile;

class WriteBehind {
 public:
  // Blocks go to output; their CRC-32 continues from crc.
  WriteBehind(CFile& output, uint32_t crc);
  // Waits for the block in hand, if any, and ends the thread.
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Takes the block's CRC-32 and writes it at the file's position.
  void Hand(const uint8_t* data, uint32_t size);
  // Waits until the block in hand is done. False when its write failed,
  // having written any part of it: the caller writes it again itself.
  bool Wait();
  // Of every block handed so far; call after Wait.
  uint32_t Crc() const { return crc_; }

 private:
  void Run();

  CFile& output_;
  uint32_t crc_;
  plat::Mutex mutex_;
  plat::Condition wake_;
  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
  bool busy_ = false;    // a block is in hand
  bool failed_ = false;  // its write failed
  bool quit_ = false;
  plat::Thread thread_;
};
