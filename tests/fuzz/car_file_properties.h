#ifndef OLVESK_TESTS_FUZZ_CAR_FILE_PROPERTIES_H_
#define OLVESK_TESTS_FUZZ_CAR_FILE_PROPERTIES_H_

#include <string>
#include <string_view>

namespace olvesk {

// Converts a car file holding |input| on a VirtualFileSystem, and scans
// |input| with a MarkerScanner in chunks of many sizes, some taken from the
// input itself. Returns what went against these rules, or "" when nothing
// did:
// - chunked scanning finds what one plain search of the whole input finds;
// - without a marker the file is byte-identical and keeps its name;
// - with one, only the byte after the first marker changes, the length stays
//   the same, or grows by one exactly when the marker ends the input, and the
//   file moves to its new name, replacing what was there;
// - the file is closed again.
std::string CarFileProblems(std::string_view input);

}  // namespace olvesk

#endif  // OLVESK_TESTS_FUZZ_CAR_FILE_PROPERTIES_H_
