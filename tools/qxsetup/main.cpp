#include <cstdio>
#include <exception>

#include "sample_setup.h"

int main() {
  try {
    return qxsetup::Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "QXSetup: %s\n", e.what());
    return 1;
  }
}
