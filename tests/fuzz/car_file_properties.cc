#include "car_file_properties.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "series/car_file.h"
#include "support/virtual_file_system.h"

namespace olvesk {
namespace {

// A byte of the input as a number, 0 for an empty input.
unsigned Byte(std::string_view input, std::size_t i) {
  return input.empty() ? 0
                       : static_cast<unsigned char>(input[i % input.size()]);
}

// Feeds |input| to a scanner in chunks of the sizes |next_size| gives, and
// returns where it found the marker, or npos.
template <typename NextSize>
std::size_t ScanInChunks(std::string_view input, NextSize next_size) {
  MarkerScanner scanner;
  for (std::size_t at = 0, chunk = 0; at < input.size(); ++chunk) {
    const std::size_t size = std::min(next_size(chunk), input.size() - at);
    if (scanner.Feed(input.data() + at, size)) break;
    at += size;
  }
  return scanner.found() ? static_cast<std::size_t>(scanner.offset())
                         : std::string_view::npos;
}

void CheckScanner(std::string_view input, std::size_t expected,
                  std::string* problems) {
  auto check = [&](const std::string& how, std::size_t found) {
    if (found != expected) {
      *problems += "scanning in " + how + " found " +
                   (found == std::string_view::npos ? "nothing"
                                                    : std::to_string(found)) +
                   "\n";
    }
  };
  std::vector<std::size_t> sizes = {1,
                                    2,
                                    3,
                                    kClassMarker.size() - 1,
                                    kClassMarker.size(),
                                    kClassMarker.size() + 1,
                                    64};
  sizes.push_back(1 + Byte(input, 0) % std::max<std::size_t>(input.size(), 1));
  sizes.push_back(std::max<std::size_t>(input.size(), 1));
  for (const std::size_t size : sizes) {
    check("chunks of " + std::to_string(size),
          ScanInChunks(input, [size](std::size_t) { return size; }));
  }
  // Chunks of changing sizes, each taken from a byte of the input.
  check("chunks sized by the input", ScanInChunks(input, [&](std::size_t i) {
          return std::size_t{1} + Byte(input, i * 7 + 1) % 23;
        }));
  // An empty chunk between two others changes nothing.
  check("chunks with empty ones between",
        ScanInChunks(input, [](std::size_t i) {
          return std::size_t{i % 2 == 0 ? 0u : 5u};
        }));
}

void CheckConversion(std::string_view input, std::size_t marker,
                     std::string* problems) {
  const std::string path = "/sim/xyz/cars/car.gns.car";
  const std::string new_path = "/sim/xyz/cars/car.pta.car";
  const char digit = static_cast<char>('1' + Byte(input, 1) % 4);
  // Every other input finds a file already at the new name.
  const bool target_there = Byte(input, 2) % 2 == 1;
  const std::string old_target = "the file that was there";

  VirtualFileSystem vfs;
  vfs.Create(path, std::string(input));
  if (target_there) vfs.Create(new_path, old_target);
  const ConvertResult result = ConvertCarFile(vfs, path, "pta", digit);
  auto fail = [&](const std::string& what) { *problems += what + "\n"; };

  if (!vfs.open_.empty()) fail("the file was left open");
  if (marker == std::string_view::npos) {
    if (result.outcome != ConvertResult::Outcome::kNoMarker) {
      fail("a file without a marker was not reported as such: " +
           result.status.ToString());
    }
    if (vfs.Contents(path) != input) fail("a file without a marker changed");
    if (vfs.Contents(new_path) != (target_there ? old_target : "<missing>")) {
      fail("a file without a marker touched the new name");
    }
    for (const std::string& call : vfs.log_) {
      if (!call.starts_with("open ") && !call.starts_with("close ")) {
        fail("a file without a marker saw \"" + call + "\"");
      }
    }
    return;
  }

  if (!result.converted()) {
    fail("a file with a marker was not converted: " + result.status.ToString());
    return;
  }
  if (result.new_path != new_path) fail("converted to " + result.new_path);
  if (vfs.Contents(path) != "<missing>") fail("the old name is still there");
  const std::string converted = vfs.Contents(new_path);
  const std::size_t patched = marker + kClassMarker.size();
  const std::size_t length = input.size() + (patched == input.size() ? 1 : 0);
  if (converted.size() != length) {
    fail("the length went from " + std::to_string(input.size()) + " to " +
         std::to_string(converted.size()));
    return;
  }
  if (converted[patched] != digit) fail("the class digit was not written");
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (i != patched && converted[i] != input[i]) {
      fail("byte " + std::to_string(i) + " changed besides the class digit");
      break;
    }
  }
}

}  // namespace

std::string CarFileProblems(std::string_view input) {
  const std::size_t marker = input.find(kClassMarker);
  std::string problems;
  CheckScanner(input, marker, &problems);
  CheckConversion(input, marker, &problems);
  return problems;
}

}  // namespace olvesk
