// The ISA-L backend of the inflater, with zlib behind it for the verdict on
// damaged streams (see inflater.h).
#ifdef UPK_WITH_ISAL
#include <isa-l/igzip_lib.h>
#include "upk4/background_walk.h"
#include "upk4/inflater.h"
#include "upk4/isal_library.h"
#include "upk4/processors.h"
#include <system_error>

IsalInflater::IsalInflater() = default;
IsalInflater::~IsalInflater() = default;

int IsalInflater::Init(AllocationRegister* blocks, bool fast) {
  End();
  blocks_ = blocks;
  finished_ = false;
  fallback_ = false;
  inputTaken_ = true;
  inputBytes_ = 0;
  walker_.Reset();
  isal_ = fast ? BindIsal() : nullptr;
  if (isal_ == nullptr) {
    // zlib from the start, as after a fall-back.
    fallback_ = true;
    return zlib_.Init(blocks);
  }
  state_ = static_cast<inflate_state*>(RegisterAwareAlloc(blocks, 1, sizeof(inflate_state)));
  if (state_ == nullptr) return Z_MEM_ERROR;
  isal_->init(state_);
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
  // New input is walked first, or alongside ISA-L when it is large; what
  // ISA-L gives from it is handed back only once the walk has passed it.
  if (inputTaken_ && availIn > 0) {
    bool beside = availIn >= backgroundWalkFrom && SeveralProcessors();
    if (beside) {
      try {
        if (!background_) background_ = std::make_unique<BackgroundWalk>();
        background_->Start(&walker_, nextIn, availIn, inputBytes_);
      } catch (const std::system_error&) {
        beside = false;  // no thread to be had: walked in line
      }
    }
    if (beside) {
      walking_ = true;
    } else if (!walker_.Walk(nextIn, availIn)) {
      return Z_DATA_ERROR;  // a header that zlib refuses: zlib decides
    }
    inputBytes_ += availIn;
  }
  state_->next_in = const_cast<uint8_t*>(nextIn);
  state_->avail_in = availIn;
  state_->next_out = nextOut;
  state_->avail_out = availOut;
  const int result = isal_->inflate(state_);
  const bool progress = state_->avail_in != availIn || state_->avail_out != availOut;
  nextIn = state_->next_in;
  availIn = state_->avail_in;
  nextOut = state_->next_out;
  availOut = state_->avail_out;
  inputTaken_ = availIn == 0;
  if (walking_) {
    const bool accepted = background_->WaitFor(inputBytes_ - availIn);
    // All input taken, the caller may reuse its buffer: the thread lets go
    // of it (having walked it through), as it does on a refusal.
    if (!accepted || inputTaken_) StopWalking();
    if (!accepted) return Z_DATA_ERROR;
  }
  if (result < 0) return Z_DATA_ERROR;
  if (state_->block_state == ISAL_BLOCK_FINISH) {
    finished_ = true;
    return Z_STREAM_END;
  }
  return progress ? Z_OK : Z_BUF_ERROR;
}

void IsalInflater::StopWalking() {
  if (walking_) background_->Stop();
  walking_ = false;
}

int IsalInflater::FallBackToZlib() {
  StopWalking();
  if (state_ != nullptr) RegisterAwareFree(blocks_, state_);
  state_ = nullptr;
  fallback_ = true;
  availIn = 0;
  return zlib_.Init(blocks_);
}

void IsalInflater::End() {
  StopWalking();
  if (fallback_) zlib_.End();
  if (state_ != nullptr) RegisterAwareFree(blocks_, state_);
  state_ = nullptr;
}

void IsalInflater::Forget() {
  StopWalking();
  zlib_.Forget();
  state_ = nullptr;
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
