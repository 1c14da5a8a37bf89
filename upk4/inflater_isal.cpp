// The ISA-L backend of the inflater, with zlib behind it for the verdict on
// damaged streams (see inflater.h).
#ifdef UPK_WITH_ISAL
#include <isa-l/igzip_lib.h>
#include <cstdlib>
#include "upk4/inflater.h"
#include "upk4/isal_library.h"

int IsalInflater::Init(bool fast) {
  End();
  finished_ = false;
  fallback_ = false;
  isal_ = fast ? BindIsal() : nullptr;
  if (isal_ == nullptr) {
    // zlib from the start, as after a fall-back.
    fallback_ = true;
    return zlib_.Init();
  }
  state_ = static_cast<inflate_state*>(std::malloc(sizeof(inflate_state)));
  if (state_ == nullptr) return Z_MEM_ERROR;
  isal_->init(state_);
  state_->crc_flag = ISAL_DEFLATE;
  return Z_OK;
}

int IsalInflater::Inflate(InflateBuffers& io) {
  if (fallback_) return zlib_.Inflate(io);
  if (state_ == nullptr) return Z_STREAM_ERROR;
  if (finished_) return Z_STREAM_END;
  state_->next_in = const_cast<uint8_t*>(io.nextIn);
  state_->avail_in = io.availIn;
  state_->next_out = io.nextOut;
  state_->avail_out = io.availOut;
  const int result = isal_->inflate(state_);
  const bool progress = state_->avail_in != io.availIn || state_->avail_out != io.availOut;
  io.nextIn = state_->next_in;
  io.availIn = state_->avail_in;
  io.nextOut = state_->next_out;
  io.availOut = state_->avail_out;
  if (result < 0) return Z_DATA_ERROR;
  if (state_->block_state == ISAL_BLOCK_FINISH) {
    finished_ = true;
    return Z_STREAM_END;
  }
  return progress ? Z_OK : Z_BUF_ERROR;
}

void IsalInflater::FreeState() {
  std::free(state_);
  state_ = nullptr;
}

int IsalInflater::FallBackToZlib(InflateBuffers& io) {
  FreeState();
  fallback_ = true;
  io.availIn = 0;
  return zlib_.Init();
}

void IsalInflater::End() {
  zlib_.End();
  FreeState();
}

uint32_t UpdateCrc32(uint32_t crc, const void* data, size_t size) {
  // Small pieces (a small stored entry) are not worth loading ISA-L for.
  constexpr size_t kLoadFrom = 64 * 1024;
  const IsalEntryPoints* isal = BoundIsal();
  if (isal == nullptr && size >= kLoadFrom) isal = BindIsal();
  if (isal == nullptr) return ZlibCrc32(crc, data, size);
  return isal->crc(crc, static_cast<const unsigned char*>(data), size);
}
#endif
