// Whether work may go to a second thread.
#pragma once
#include "platform/threads.h"

// More than one processor: with one, a second thread would only take turns
// with the caller's. Asked once (the answer costs a file read), on first need.
inline bool SeveralProcessors() {
  static const bool several = plat::ProcessorCount() >= 2;
  return several;
}
