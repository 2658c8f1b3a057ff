// Awkward files and folders met by a real run of the convert button: each
// is converted or named in the report with its reason, the files around it
// are still converted, and nothing is lost.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "series/car_file.h"
#include "series/convert_command.h"
#include "series/real_file_system.h"
#include "support/folder_run.h"
#include "support/temp_dir.h"

namespace olvesk {
namespace {

namespace fs = std::filesystem;

// The series folder a case works in, with room beside it for files outside.
struct Place {
  std::string root;
  std::string folder;
  std::string File(const std::string& name) const {
    return CarFilePath(folder, name);
  }
  std::string Outside(const std::string& name) const {
    return CarFilePath(root, name);
  }
};

// Makes |path| immutable with chattr and adds it to |locked|, for Unlock();
// false, adding nothing, where the system does not allow it.
bool Lock(const std::string& path, std::vector<std::string>* locked) {
  if (std::system(("chattr +i '" + path + "' 2>/dev/null").c_str()) != 0) {
    return false;
  }
  locked->push_back(path);
  return true;
}
void Unlock(const std::string& path) {
  EXPECT_EQ(std::system(("chattr -i '" + path + "' 2>/dev/null").c_str()), 0)
      << path;
}

// The report line of |name|, or "".
std::string ReportLine(const ButtonPress& press, const std::string& name) {
  for (const std::string& message : press.messages) {
    const std::size_t at = message.find("\n" + name + ": ");
    if (at != std::string::npos) {
      return message.substr(at + 1, message.find('\n', at + 1) - at - 1);
    }
  }
  return "";
}

struct BadInput {
  const char* name;
  // The listed name of the awkward file.
  std::string file;
  // Makes the awkward file and what goes with it. Returns false to skip the
  // case where the system cannot make it; |locked| collects what to unlock.
  std::function<bool(const Place&, std::vector<std::string>* locked)> make;
  // Runs between listing the folder and converting, when set.
  std::function<void(const Place&)> after_listing;
  // What the report says about |file|; empty when it must be converted.
  std::string reason;
  // Checks that nothing was lost or written through.
  std::function<void(const Place&)> check;
  // The folder itself refuses renames, so no file can be converted.
  bool folder_locked = false;
};

void PrintTo(const BadInput& c, std::ostream* os) { *os << c.name; }

bool Make(const Place& place, const std::string& name,
          const std::string& contents) {
  WriteFile(place.File(name), contents);
  return true;
}

// A case of a file with |contents| that has no marker.
BadInput NoMarker(const char* name, const std::string& contents) {
  const std::string file = std::string(name) + ".gns.car";
  return BadInput{
      name,
      file,
      [=](const Place& place, auto*) { return Make(place, file, contents); },
      {},
      "it has no \"car_class=\" entry",
      [=](const Place& place) {
        EXPECT_EQ(ReadFile(place.File(file)), contents);
        EXPECT_FALSE(
            fs::exists(Utf8Path(place.File(name + std::string(".pta.car")))));
      }};
}

// A case of a file whose name is awkward but which converts.
BadInput Converts(const char* name, const std::string& base) {
  const std::string file = base + ".gns.car";
  const std::string converted = base + ".pta.car";
  return BadInput{name,
                  file,
                  [=](const Place& place, auto*) {
                    return Make(place, file, "car_class=2 " + base);
                  },
                  {},
                  "",
                  [=](const Place& place) {
                    EXPECT_EQ(ReadFile(place.File(converted)),
                              "car_class=4 " + base);
                    EXPECT_FALSE(fs::exists(Utf8Path(place.File(file))));
                  }};
}

std::vector<BadInput> BadInputs() {
  std::vector<BadInput> cases = {
      NoMarker("Empty", ""),
      NoMarker("UnderTenBytes", "car_clas="),
      NoMarker("MarkerCutShort", "a\ncar_class"),
      NoMarker("BinaryZeros", std::string(300, '\0')),
      Converts("Spaces", "my  old car "),
      Converts("NonAscii", "Škoda Fábia ñ 日本"),
      Converts("NotUtf8", "bad\xff\xfe\xc3 name"),
      Converts("LongName", std::string(255 - 8, 'n')),
      Converts(
          "LongNonAsciiName", "x" +
                                  [] {
                                    std::string text;
                                    for (int i = 0; i < 123; ++i) text += "é";
                                    return text;
                                  }()),
      BadInput{"UnwritableFile",
               "locked.gns.car",
               [](const Place& place, std::vector<std::string>* locked) {
                 Make(place, "locked.gns.car", "car_class=2 locked");
                 return Lock(place.File("locked.gns.car"), locked);
               },
               {},
               "Operation not permitted",
               [](const Place& place) {
                 EXPECT_EQ(ReadFile(place.File("locked.gns.car")),
                           "car_class=2 locked");
               }},
      // Every file is opened and patched, then its rename is refused and
      // the digit is put back.
      BadInput{"UnwritableFolder",
               "m.gns.car",
               [](const Place& place, std::vector<std::string>* locked) {
                 Make(place, "m.gns.car", "car_class=2 m");
                 return Lock(place.folder, locked);
               },
               {},
               "rename",
               [](const Place& place) {
                 EXPECT_EQ(ReadFile(place.File("m.gns.car")), "car_class=2 m");
               },
               /*folder_locked=*/true},
      BadInput{
          "FolderAtNewName",
          "dir.gns.car",
          [](const Place& place, auto*) {
            fs::create_directory(Utf8Path(place.File("dir.pta.car")));
            WriteFile(place.File("dir.pta.car") + "/inside", "kept");
            return Make(place, "dir.gns.car", "car_class=2 dir");
          },
          {},
          "a folder of that name is in the way",
          [](const Place& place) {
            EXPECT_EQ(ReadFile(place.File("dir.gns.car")), "car_class=2 dir");
            EXPECT_EQ(ReadFile(place.File("dir.pta.car") + "/inside"), "kept");
          }},
      BadInput{"HardLinkAtNewName",
               "linked.gns.car",
               [](const Place& place, auto*) {
                 Make(place, "linked.gns.car", "car_class=2 linked");
                 fs::create_hard_link(Utf8Path(place.File("linked.gns.car")),
                                      Utf8Path(place.File("linked.pta.car")));
                 return true;
               },
               {},
               "other names (hard links)",
               [](const Place& place) {
                 EXPECT_EQ(ReadFile(place.File("linked.gns.car")),
                           "car_class=2 linked");
                 EXPECT_EQ(fs::hard_link_count(
                               Utf8Path(place.File("linked.pta.car"))),
                           2u);
               }},
      // Writing the digit in place would change the file under its other
      // name too, where it would keep that name with the new digit.
      BadInput{
          "HardLinkElsewhere",
          "shared.gns.car",
          [](const Place& place, auto*) {
            WriteFile(place.Outside("shared.gns.car"), "car_class=2 sh");
            fs::create_hard_link(Utf8Path(place.Outside("shared.gns.car")),
                                 Utf8Path(place.File("shared.gns.car")));
            return true;
          },
          {},
          "other name",
          [](const Place& place) {
            EXPECT_EQ(ReadFile(place.Outside("shared.gns.car")),
                      "car_class=2 sh");
            EXPECT_EQ(ReadFile(place.File("shared.gns.car")), "car_class=2 sh");
            EXPECT_FALSE(fs::exists(Utf8Path(place.File("shared.pta.car"))));
          }},
      BadInput{"DeletedAfterListing", "gone.gns.car",
               [](const Place& place, auto*) {
                 return Make(place, "gone.gns.car", "car_class=2 gone");
               },
               [](const Place& place) {
                 fs::remove(Utf8Path(place.File("gone.gns.car")));
               },
               "the file is no longer there",
               [](const Place& place) {
                 EXPECT_FALSE(fs::exists(Utf8Path(place.File("gone.pta.car"))));
               }},
      // Opening a pipe for reading and writing would not block, but reading
      // it would, for ever.
      BadInput{"PipeAfterListing", "pipe.gns.car",
               [](const Place& place, auto*) {
                 return Make(place, "pipe.gns.car", "car_class=2 pipe");
               },
               [](const Place& place) {
                 const std::string path = place.File("pipe.gns.car");
                 fs::remove(Utf8Path(path));
                 ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
               },
               "it is not a plain file",
               [](const Place& place) {
                 EXPECT_TRUE(fs::is_fifo(Utf8Path(place.File("pipe.gns.car"))));
               }},
      BadInput{"LinkToAFileOutside",
               "link.gns.car",
               [](const Place& place, auto*) {
                 WriteFile(place.Outside("outside.gns.car"), "car_class=2 out");
                 fs::create_symlink(Utf8Path(place.Outside("outside.gns.car")),
                                    Utf8Path(place.File("link.gns.car")));
                 return true;
               },
               {},
               "symbolic link",
               [](const Place& place) {
                 EXPECT_EQ(ReadFile(place.Outside("outside.gns.car")),
                           "car_class=2 out");
                 EXPECT_TRUE(
                     fs::is_symlink(Utf8Path(place.File("link.gns.car"))));
                 EXPECT_FALSE(fs::exists(Utf8Path(place.File("link.pta.car"))));
               }},
      // The link is refused; the file it names is converted in its own turn.
      BadInput{
          "LinkToAListedFile",
          "alias.gns.car",
          [](const Place& place, auto*) {
            Make(place, "m.gns.car", "car_class=2 m");
            fs::create_symlink("m.gns.car",
                               Utf8Path(place.File("alias.gns.car")));
            return true;
          },
          {},
          "symbolic link",
          [](const Place& place) {
            EXPECT_EQ(ReadFile(place.File("m.pta.car")), "car_class=4 m");
            EXPECT_TRUE(fs::is_symlink(Utf8Path(place.File("alias.gns.car"))));
            EXPECT_FALSE(fs::exists(Utf8Path(place.File("alias.pta.car"))));
          }},
      // A link at the new name is replaced, never written through.
      BadInput{"LinkAtNewName",
               "s.gns.car",
               [](const Place& place, auto*) {
                 WriteFile(place.Outside("victim.txt"), "car_class=2 victim");
                 fs::create_symlink(Utf8Path(place.Outside("victim.txt")),
                                    Utf8Path(place.File("s.pta.car")));
                 return Make(place, "s.gns.car", "car_class=2 s");
               },
               {},
               "",
               [](const Place& place) {
                 EXPECT_EQ(ReadFile(place.Outside("victim.txt")),
                           "car_class=2 victim");
                 EXPECT_FALSE(
                     fs::is_symlink(Utf8Path(place.File("s.pta.car"))));
                 EXPECT_EQ(ReadFile(place.File("s.pta.car")), "car_class=4 s");
               }},
  };
  return cases;
}

// A series folder under the build folder, where chattr works more often than
// under /tmp, with a good file on either side of the awkward one.
class BadInputTest : public ::testing::TestWithParam<BadInput> {
 protected:
  void SetUp() override {
    place_.root = Utf8String(root_.path());
    place_.folder = Utf8String(root_.path() / "cup" / "cars");
    fs::create_directories(Utf8Path(place_.folder));
    WriteFile(place_.File("a0.gns.car"), "car_class=2 first");
    WriteFile(place_.File("zz.cts.car"), "car_class=3 last");
  }
  void TearDown() override {
    for (const std::string& path : locked_) Unlock(path);
  }

  TempDir root_{fs::current_path()};
  Place place_;
  std::vector<std::string> locked_;
};

TEST_P(BadInputTest, IsConvertedOrNamedAndTheOthersGoOn) {
  const BadInput& c = GetParam();
  if (!c.make(place_, &locked_)) {
    GTEST_SKIP() << "chattr +i is not available here";
  }
  RealFileSystem real;
  std::function<void()> after_listing;
  if (c.after_listing) after_listing = [&] { c.after_listing(place_); };
  const ButtonPress press =
      PressConvert(real, place_.folder, "", after_listing);
  ASSERT_FALSE(press.messages.empty());
  EXPECT_EQ(press.messages.back(), kDoneMessage);

  const std::string line = ReportLine(press, c.file);
  if (c.reason.empty()) {
    EXPECT_EQ(line, "");
  } else {
    EXPECT_NE(line.find(c.reason), std::string::npos)
        << "the report line of " << c.file << " is \"" << line << "\"";
  }
  c.check(place_);

  if (c.folder_locked) {
    for (const char* name : {"a0.gns.car", "zz.cts.car"}) {
      EXPECT_NE(ReportLine(press, name).find("rename"), std::string::npos);
    }
    EXPECT_EQ(ReadFile(place_.File("a0.gns.car")), "car_class=2 first");
    EXPECT_EQ(ReadFile(place_.File("zz.cts.car")), "car_class=3 last");
  } else {
    EXPECT_EQ(ReadFile(place_.File("a0.pta.car")), "car_class=4 first");
    EXPECT_EQ(ReadFile(place_.File("zz.pta.car")), "car_class=4 last");
  }
}

INSTANTIATE_TEST_SUITE_P(Files, BadInputTest, ::testing::ValuesIn(BadInputs()),
                         [](const auto& test) {
                           return std::string(test.param.name);
                         });

// Files whose marker begins |k| bytes before the end of the first scan
// chunk, for every split of the marker and the digit across that boundary,
// all converted in one run.
TEST(ChunkBoundaryTest, MarkerSplitAtEveryPositionIsConverted) {
  TempDir root(fs::current_path());
  const std::string folder = Utf8String(root.path() / "cup" / "cars");
  fs::create_directories(Utf8Path(folder));
  auto file = [](std::size_t k, char digit, bool at_end) {
    std::string text(kScanChunkSize - k, 'y');
    text += kClassMarker;
    if (!at_end) text += std::string(1, digit) + "tail";
    return text;
  };
  std::vector<PlannedFile> plan;
  for (std::size_t k = 0; k <= kClassMarker.size() + 1; ++k) {
    const std::string name = "split" + std::to_string(k);
    plan.push_back({name + ".gns.car", file(k, '2', false), true,
                    name + ".pta.car", file(k, '4', false)});
  }
  // The marker ends the file exactly at the end of the chunk, or just after.
  for (std::size_t k : {kClassMarker.size(), kClassMarker.size() - 1}) {
    const std::string name = "end" + std::to_string(k);
    plan.push_back({name + ".gns.car", file(k, '2', true), true,
                    name + ".pta.car", file(k, '2', true) + "4"});
  }
  WritePlan(folder, plan);
  RealFileSystem real;
  const ButtonPress press = PressConvert(real, folder);
  EndStateRules rules;
  rules.all_converted = true;
  EndState state;
  EXPECT_TRUE(CheckEndState(folder, plan, press.messages, rules, &state));
  EXPECT_EQ(state.converted, static_cast<int>(plan.size()));
  RecordProperty("inputs", static_cast<int>(plan.size()));
}

// A sparse file of more than 4 GiB whose marker lies past 2^32 is converted
// with only the one byte changed. Only the region around it is read back.
TEST(LargeFileTest, MarkerPastFourGibibytesIsConverted) {
  TempDir root(fs::current_path());
  const std::string folder = Utf8String(root.path() / "cup" / "cars");
  fs::create_directories(Utf8Path(folder));
  WriteFile(CarFilePath(folder, "a0.gns.car"), "car_class=2");
  const std::string huge = CarFilePath(folder, "huge.gns.car");
  const std::uint64_t marker_at = (std::uint64_t{1} << 32) + 7;
  const std::uint64_t size = marker_at + 64 * 1024;
  {
    const int fd = open(huge.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
      close(fd);
      GTEST_SKIP() << "the file system takes no file of " << size << " bytes";
    }
    const std::string entry = std::string(kClassMarker) + "2";
    ASSERT_EQ(
        pwrite(fd, entry.data(), entry.size(), static_cast<off_t>(marker_at)),
        static_cast<ssize_t>(entry.size()));
    close(fd);
  }

  RealFileSystem real;
  const ButtonPress press = PressConvert(real, folder);
  EXPECT_EQ(press.messages,
            std::vector<std::string>{std::string(kDoneMessage)});
  EXPECT_EQ(ReadFile(CarFilePath(folder, "a0.pta.car")), "car_class=4");
  const std::string converted = CarFilePath(folder, "huge.pta.car");
  ASSERT_FALSE(fs::exists(Utf8Path(huge)));
  ASSERT_EQ(fs::file_size(Utf8Path(converted)), size);

  const std::uint64_t from = marker_at - 100;
  std::string region(200, '?');
  const int fd = open(converted.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pread(fd, region.data(), region.size(), static_cast<off_t>(from)),
            static_cast<ssize_t>(region.size()));
  close(fd);
  std::string expected(200, '\0');
  expected.replace(100, kClassMarker.size() + 1,
                   std::string(kClassMarker) + "4");
  EXPECT_EQ(region, expected);
}

// Counts the bytes asked for by every read.
class CountingFileSystem : public FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  Status Read(const OpenFile& file, std::uint64_t offset, char* data,
              std::size_t size, std::size_t* read) override {
    bytes_read_ += size;
    return FileSystemWrapper::Read(file, offset, data, size, read);
  }
  std::uint64_t bytes_read_ = 0;
};

// A sparse file of 1 TiB whose marker lies past its middle is converted
// after reading its data only, not the holes around it.
TEST(LargeFileTest, SparseFileIsReadOnlyWhereItHoldsData) {
  TempDir root(fs::current_path());
  const std::string path = root.File("sparse.gns.car");
  const std::uint64_t size = std::uint64_t{1} << 40;
  const std::uint64_t marker_at = size / 2 + (std::uint64_t{7} << 30) + 5;
  {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const std::string entry = std::string(kClassMarker) + "2";
    if (ftruncate(fd, static_cast<off_t>(size)) != 0 ||
        pwrite(fd, entry.data(), entry.size(), static_cast<off_t>(marker_at)) !=
            static_cast<ssize_t>(entry.size())) {
      close(fd);
      GTEST_SKIP() << "the file system takes no sparse file of " << size
                   << " bytes";
    }
    close(fd);
  }
  RealFileSystem real;
  {
    OpenFile probe;
    ASSERT_TRUE(real.Open(path, &probe).ok());
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    const Status found = real.FindData(probe, 0, &start, &end);
    real.Close(&probe);
    ASSERT_TRUE(found.ok()) << found.ToString();
    if (end == kNoEnd) {
      GTEST_SKIP() << "the file system cannot tell where a file's data lies";
    }
  }

  CountingFileSystem counting(real);
  const ConvertResult result = ConvertCarFile(counting, path, "pta", '4');
  ASSERT_TRUE(result.converted()) << result.status.ToString();
  EXPECT_LT(counting.bytes_read_, std::uint64_t{16} << 20);
  char digit = 0;
  const int fd = open(result.new_path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(
      pread(fd, &digit, 1, static_cast<off_t>(marker_at + kClassMarker.size())),
      1);
  close(fd);
  EXPECT_EQ(digit, '4');
}

}  // namespace
}  // namespace olvesk

#endif  // _WIN32
