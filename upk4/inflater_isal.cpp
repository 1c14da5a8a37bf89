// The ISA-L backend of the inflater, with zlib behind it for the verdict on
// damaged streams (see inflater.h).
#ifdef UPK_WITH_ISAL
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include "upk4/inflater.h"

int IsalInflater::Init(AllocationRegister* blocks) {
  End();
  blocks_ = blocks;
  finished_ = false;
  fallback_ = false;
  state_ = static_cast<inflate_state*>(RegisterAwareAlloc(blocks, 1, sizeof(inflate_state)));
  if (state_ == nullptr) return Z_MEM_ERROR;
  isal_inflate_init(state_);
  state_->crc_flag = ISAL_DEFLATE;
  return Z_OK;
}

int IsalInflater::Inflate() {
  if (fallback_) {
    static_cast<InflateBuffers&>(zlib_) = *this;
    const int result = zlib_.Inflate();
    static_cast<InflateBuffers&>(*this) = zlib_;
    return result;
  }
  if (state_ == nullptr) return Z_STREAM_ERROR;
  if (finished_) return Z_STREAM_END;
  state_->next_in = const_cast<uint8_t*>(nextIn);
  state_->avail_in = availIn;
  state_->next_out = nextOut;
  state_->avail_out = availOut;
  const int result = isal_inflate(state_);
  const bool progress = state_->avail_in != availIn || state_->avail_out != availOut;
  nextIn = state_->next_in;
  availIn = state_->avail_in;
  nextOut = state_->next_out;
  availOut = state_->avail_out;
  if (result < 0) return Z_DATA_ERROR;
  if (state_->block_state == ISAL_BLOCK_FINISH) {
    finished_ = true;
    return Z_STREAM_END;
  }
  return progress ? Z_OK : Z_BUF_ERROR;
}

int IsalInflater::FallBackToZlib() {
  if (state_ != nullptr) RegisterAwareFree(blocks_, state_);
  state_ = nullptr;
  fallback_ = true;
  availIn = 0;
  return zlib_.Init(blocks_);
}

void IsalInflater::End() {
  if (fallback_) zlib_.End();
  if (state_ != nullptr) RegisterAwareFree(blocks_, state_);
  state_ = nullptr;
}

void IsalInflater::Forget() {
  zlib_.Forget();
  state_ = nullptr;
}

uint32_t UpdateCrc32(uint32_t crc, const void* data, size_t size) {
  return crc32_gzip_refl(crc, static_cast<const unsigned char*>(data), size);
}
#endif
