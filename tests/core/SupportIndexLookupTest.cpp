#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/IndexLookup.h"
#include "support/ScriptedPort.h"
#include "support/TestFiles.h"
#include "util/Errors.h"

namespace quelmar {
namespace {

using testing::ScriptedPort;
using testing::TempDir;
using testing::WriteFileBytes;

// An index line in the archive's layout, holding `id` quoted near its start.
std::string IndexLine(const std::string& id, const std::string& tag = "A") {
  std::string line(900, '.');
  const std::pair<size_t, std::string> fields[] = {{3, "\"" + id + "\""},
                                                   {310, "\"2010-03-07T10:00:00.000"},
                                                   {337, "\"2010-03-07T10:00:01.000"},
                                                   {749, "-1.50 "},
                                                   {756, "170.25"},
                                                   {763, "12.345"},
                                                   {770, "45.678"},
                                                   {796, "11.111"},
                                                   {803, "44.444"},
                                                   {810, "13.001"},
                                                   {817, "46.001"},
                                                   {824, "10.002"},
                                                   {831, "46.002"},
                                                   {838, "10.003"},
                                                   {845, "43.003"},
                                                   {852, "13.004"},
                                                   {859, "43.004"},
                                                   {866, " 49.876"},
                                                   {883, tag},
                                                   {887, "+X"}};
  for (const auto& [position, text] : fields) line.replace(position - 1, text.size(), text);
  return line;
}

TEST(SupportIndexTime, ParsesFixedPositionsAndRejectsImpossibleTimes) {
  const IndexTime base = ParseIndexTime("\"2010-03-07T10:00:00.500");
  for (const char* same : {"X2010/03/07 10:00:00,500", "\"2010- 3-07T10:00:00.500"}) {
    EXPECT_EQ(ParseIndexTime(same), base) << same;
  }
  EXPECT_EQ(ParseIndexTime(" 2012-03-01T00:00:00.000") - ParseIndexTime(" 2012-02-28T00:00:00.000"),
            2 * 86400000);  // 2012 is a leap year
  for (const char* bad :
       {" 2010-02-29T00:00:00.000", " 2010-13-01T00:00:00.000", " 2010-04-31T00:00:00.000",
        " 2010-03-07T24:00:00.000", " 2010-03-07T10:00:00.1a0", " 20x0-03-07T10:00:00.000",
        " 0000-01-01T00:00:00.000", " 2010-03-07T10:00", ""}) {
    EXPECT_THROW(ParseIndexTime(bad), ConversionError) << bad;
  }
}

TEST(SupportIndexRecord, MatchesTheFirstLineWithTheIdentifierAfterItsFirstCharacter) {
  TempDir dir;
  const std::string path = dir.File("CUMINDEX.TAB"), id = "M126534360CE";
  std::string atStart = IndexLine(id, "S");
  atStart.replace(0, id.size(), id);  // first occurrence at position 1, another later
  // Lines of a hundred thousand characters and more.
  const std::string startsWithId = "M12345" + std::string(100000, 'c') + "M12345";
  const std::string straddling = std::string(2 * 65536 - 3 - (startsWithId.size() + 1), 'a') +
                                 "M12345" + std::string(70000, 'b');
  struct Case {
    std::string id, content;
    bool match;
    std::string code1, code2;
  };
  const Case cases[] = {
      {id, atStart + "\r\n", false, "", ""},
      {id, IndexLine("m126534360ce") + "\r\n", false, "", ""},
      {id, IndexLine(id, "1") + "\r\n" + IndexLine(id, "2") + "\r\n", true, "1", "+X"},
      {id, atStart + "\n" + IndexLine("M1") + "\n" + IndexLine(id, "3"), true, "3", "+X"},
      {id, "x" + id + "\n" + IndexLine(id, "2"), true, "", ""},  // fields beyond its end
      {id, IndexLine(id, "4").substr(0, 887) + "\r\n", true, "4", "+"},
      {"M12345", startsWithId + "\n" + straddling + "\n" + IndexLine("M12345"), true, "a", "aa"},
      {id, "", false, "", ""},
  };
  for (const Case& c : cases) {
    WriteFileBytes(path, c.content);
    const auto record = FindIndexRecord(path, c.id);
    ASSERT_EQ(record.has_value(), c.match) << c.content.substr(0, 20);
    if (!record) continue;
    EXPECT_TRUE(record->Available);
    EXPECT_EQ(record->OrientationCode1 + "|" + record->OrientationCode2, c.code1 + "|" + c.code2);
  }
  EXPECT_THROW(FindIndexRecord(dir.Path(), id), FileError);
  EXPECT_THROW(FindIndexRecord(dir.File("missing.TAB"), id), FileError);
}

// The index is read in blocks of 1 MiB: the identifier, the start or the end of its line, or a
// line that begins with the identifier (and so does not match) may fall on either side of a
// block's end.
TEST(SupportIndexRecord, FindsTheLineWhereverABlockEnds) {
  TempDir dir;
  const std::string path = dir.File("CUMINDEX.TAB"), id = "M126534360CE";
  const size_t block = size_t{1} << 20;
  const std::string record = IndexLine(id, "7") + "\r\n";
  std::string beginsWithId = IndexLine(id, "S") + "\r\n";
  beginsWithId.replace(0, id.size(), id);
  const size_t idAt = record.find(id);
  // Filler lines of exactly `bytes` bytes in all.
  auto filler = [](size_t bytes) {
    std::string text;
    while (text.size() + 1000 < bytes) text += std::string(999, 'f') + "\n";
    text += std::string(bytes - text.size() - 1, 'g') + "\n";
    return text;
  };
  struct Placement {
    const char* what;
    size_t offset;  // of the placed line's start, from the block's end
    bool beginsWithIdFirst;
  };
  std::vector<Placement> placements;
  for (size_t k = 0; k <= 12; ++k) {
    placements.push_back({"identifier", idAt + k, false});
    placements.push_back({"line start", k, false});
    placements.push_back({"line end", record.size() - 2 + k - 8, false});
    placements.push_back({"line beginning with it", k * 2 + 1, true});
  }
  for (const Placement& p : placements) {
    SCOPED_TRACE(std::string(p.what) + " at " + std::to_string(p.offset));
    const std::string placed = p.beginsWithIdFirst ? beginsWithId + record : record;
    WriteFileBytes(path, filler(block - p.offset) + placed + IndexLine("M2", "2") + "\n");
    const auto found = FindIndexRecord(path, id);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->OrientationCode1, "7");
  }
  // The record after a megabyte without a line end.
  WriteFileBytes(path, std::string(block + 5, 'x') + id + "\n" + record);
  const auto found = FindIndexRecord(path, id);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->OrientationCode1, "x");  // the first, long line holds it
}

TEST(SupportCommandTest, ListsTheRecordByteForByte) {
  TempDir dir;
  std::string indexPath = dir.File("CUMINDEX.TAB");
  WriteFileBytes(indexPath, IndexLine("M1", "7") + "\r\n");
  SupportDataInfo data;
  ScriptedPort port;
  SupportCommand("M1", indexPath, data, port);
  EXPECT_TRUE(data.Available);
  EXPECT_EQ(data.SubSolarLon + data.SubSolarLat, "170.25-1.50 ");
  const std::vector<std::string> expected = {
      "Start :\"2010-03-07T10:00:00.000   End :\"2010-03-07T10:00:01.000",
      "Spacecraft       Lon: 45.678  Lat: 12.345   Alt: 49.876",
      "Principal point  Lon: 44.444  Lat: 11.111",
      "Upper left  Lon: 43.004  Lat: 13.004  Upper right  Lon: 46.001  Lat: 13.001",
      "Lower left  Lon: 43.003  Lat: 10.003  Lower right  Lon: 46.002  Lat: 10.002",
      "Orientation codes : 7  +X",
      ""};
  EXPECT_EQ(port.Lines(), expected);
  EXPECT_TRUE(port.Calls().front().busy);
  EXPECT_TRUE(port.CursorRestored());
}

TEST(SupportCommandTest, FailuresKeepEarlierDataAndAMissingIndexIsAskedFor) {
  TempDir dir;
  std::string indexPath = dir.File("CUMINDEX.TAB");
  SupportDataInfo data;
  data.Available = true;
  data.StartTime = "earlier";

  ScriptedPort cancelled;  // no product: no dialog; then a cancelled dialog
  const std::optional<std::string> cancel;
  cancelled.ExpectOpenDialog(cancel);
  SupportCommand("", indexPath, data, cancelled);
  SupportCommand("M1", indexPath, data, cancelled);
  EXPECT_EQ(cancelled.Lines(), std::vector<std::string>(2, "Index file not found"));
  const FileDialogRequest& request = cancelled.Calls()[1].request;
  EXPECT_EQ(
      request.title + "|" + request.filter + "|" + request.fileName + "|" + request.initialFolder,
      "LROC Cumulative Image Index|TAB|*.TAB|" + indexPath + "|" + dir.Path() + "/");

  const std::string elsewhere = dir.File("other.TAB");
  WriteFileBytes(elsewhere, IndexLine("M2") + "\r\n");
  ScriptedPort picked;
  picked.ExpectOpenDialog(elsewhere);
  SupportCommand("M1", indexPath, data, picked);
  EXPECT_EQ(data.StartTime, "earlier");
  SupportCommand("M2", indexPath, data, picked);  // used from then on without asking
  EXPECT_EQ(indexPath, elsewhere);
  EXPECT_EQ(picked.Lines().size(), 9u);
  EXPECT_EQ(picked.Lines()[0], "M1 not found in Index file");
  EXPECT_EQ(data.OrientationCode1, "A");

  ScriptedPort folder;  // a folder picked as the index: a clear error, cursor restored
  folder.ExpectOpenDialog(dir.Path());
  std::string missing = dir.File("gone.TAB");
  EXPECT_THROW(SupportCommand("M2", missing, data, folder), FileError);
  EXPECT_TRUE(folder.CursorRestored());
}

}  // namespace
}  // namespace quelmar
