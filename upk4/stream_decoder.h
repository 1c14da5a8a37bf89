// The decoders of the methods that come after deflate (Zstandard, LZMA),
// behind one face for the entry reader. Results are zlib's codes, as the
// inflater gives them:
//   Z_OK          progress (input taken or output given)
//   Z_STREAM_END  the stream has ended; no further output
//   Z_BUF_ERROR   no progress was possible
//   Z_DATA_ERROR  damaged data; Problem() says what
//   Z_MEM_ERROR   the decoder's memory could not be allocated
// Each call is told whether the input it is given is the last there is.
// Memory stays within the method's declared window or dictionary, which
// may be at most 8 MiB: a stream that asks for more is refused as damaged.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include "upk4/inflater.h"

class StreamDecoder {
 public:
  virtual ~StreamDecoder() = default;
  virtual int Decode(InflateBuffers& io, bool lastInput) = 0;
  // What the last Z_DATA_ERROR found, in a few words.
  const std::string& Problem() const { return m_problem; }

 protected:
  int Damaged(std::string problem) {
    m_problem = std::move(problem);
    return Z_DATA_ERROR;
  }

 private:
  std::string m_problem;
};

// Null when the library cannot be loaded (LibraryName() says which).
std::unique_ptr<StreamDecoder> MakeZstdDecoder();
// endMarker: the stream ends with its end marker (flag bit 1); otherwise
// it ends after size bytes.
std::unique_ptr<StreamDecoder> MakeLzmaDecoder(bool endMarker, uint64_t size);
