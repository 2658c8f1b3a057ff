// libFuzzer entry: every input is a car file's contents, checked against the
// rules CarFileProblems() states.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "car_file_properties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string problems = olvesk::CarFileProblems(
      std::string_view(reinterpret_cast<const char*>(data), size));
  if (!problems.empty()) {
    std::fprintf(stderr, "%s", problems.c_str());
    std::abort();
  }
  return 0;
}
