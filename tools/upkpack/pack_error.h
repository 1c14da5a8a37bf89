// A failure of the package builder, with the message the user sees.
#pragma once
#include <stdexcept>

namespace upkpack {

class PackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace upkpack
