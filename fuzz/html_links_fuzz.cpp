#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  voxtrel::fuzz::CheckHtmlLinks(data, size);
  return 0;
}
