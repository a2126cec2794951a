#include <gtest/gtest.h>

#include "app/target-sim/SimOptions.h"

namespace bm::targetsim {
namespace {

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start < line.size()) {
    size_t end = line.find(' ', start);
    if (end == std::string::npos) end = line.size();
    if (end > start) words.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

TEST(SimOptions, RejectsWhatTheWireCannotCarry) {
  struct Case {
    const char* line;
    ParseResult result;
    const char* why;
  };
  const Case cases[] = {
      {"", ParseResult::Run, "defaults"},
      {"--help", ParseResult::Help, "usage"},
      {"--page-words 0", ParseResult::Error, "a page has at least one word"},
      {"--page-words 256", ParseResult::Error, "page size is one byte on the wire"},
      {"--flash-words 0x10000", ParseResult::Error, "flash size is two bytes on the wire"},
      {"--signature 1000000", ParseResult::Error, "signature is three bytes"},
      {"--signature 1E95ZZ", ParseResult::Error, "not hex"},
      {"--loader-ids 1,2,3", ParseResult::Error, "four IDs"},
      {"--loader-ids 1,2,3,4,5", ParseResult::Error, "four IDs, not five"},
      {"--loader-ids 10000,0,0,0", ParseResult::Error, "an ID is 16 bits"},
      {"--fault D:1:late", ParseResult::Error, "a late reply needs its delay"},
      {"--fault E:1:noreply:5", ParseResult::Error, "only a late reply takes a delay"},
      {"--fault E:1:short:x", ParseResult::Error, "a short reply keeps a number of bytes"},
      {"--fault E:1:stray-after:1", ParseResult::Error, "a stray byte takes no value"},
      {"--fault E:x:noreply", ParseResult::Error, "occurrence is a number"},
      {"--fault E:1:sometimes", ParseResult::Error, "unknown kind"},
      {"--fault E", ParseResult::Error, "incomplete"},
      {"--paced=1", ParseResult::Error, "a flag takes no value"},
      {"--page-words", ParseResult::Error, "missing value"},
      {"--eeprom-bytes -1", ParseResult::Error, "negative size"},
      {"--flash-out", ParseResult::Error, "missing path"},
      {"--colour red", ParseResult::Error, "unknown option"},
      {"--adapter-latency 1", ParseResult::Run, "a whole millisecond"},
      {"--adapter-latency 0", ParseResult::Error, "a timer needs a period"},
      {"--adapter-latency -16", ParseResult::Error, "negative latency"},
      {"--adapter-latency 16ms", ParseResult::Error, "a number alone"},
      {"--adapter-latency soon", ParseResult::Error, "not a number"},
      {"--adapter-latency nan", ParseResult::Error, "not a number either"},
      {"--adapter-latency", ParseResult::Error, "missing latency"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    SimOptions options;
    std::string error;
    EXPECT_EQ(ParseSimOptions(Words(c.line), {}, options, error), c.result) << c.line;
    EXPECT_EQ(error.empty(), c.result != ParseResult::Error) << error;
  }
  SimOptions plain;
  std::string error;
  ASSERT_EQ(ParseSimOptions({}, {}, plain, error), ParseResult::Run);
  EXPECT_EQ(plain.adapterLatencyMs, 0) << "no adapter unless asked for";
}

TEST(SimOptions, ReadsTheBoardAndItsFaults) {
  SimOptions o;
  std::string error;
  sim::SimTargetConfig defaults;
  defaults.eepromBytes = 512;
  ASSERT_EQ(
      ParseSimOptions(Words("--signature 1E9587 --page-words 0x40 --flash-words 14336 --boot-words=2048 "
                            "--loader-ids 0101,0,2,ABCD --baud=57600 --paced --fault E:2:noreply "
                            "--fault ?:0:late:80.5 --fault P:3:vanish --fault D:1:wrong --fault i:1:short:5 "
                            "--adapter-latency=0.5 "
                            "--fault I:1:short --fault A:2:stray-after --fault B:1:stray-before "
                            "--flash-out f.bin --link /tmp/l --exit-after-stop --trace"),
                      defaults, o, error),
      ParseResult::Run)
      << error;
  EXPECT_EQ(o.config.signature, 0x1E9587u);
  EXPECT_EQ(o.config.pageWords, 64);
  EXPECT_EQ(o.config.flashWords, 0x3800);
  EXPECT_EQ(o.config.bootWords, 0x800);
  EXPECT_EQ(o.config.eepromBytes, 512) << "the defaults given stay";
  EXPECT_EQ(o.config.loaderIds, (std::array<uint16_t, 4>{0x0101, 0, 2, 0xABCD}));
  EXPECT_EQ(o.config.baud, 57600);
  EXPECT_TRUE(o.config.paced);
  ASSERT_EQ(o.faults.size(), 8u);
  EXPECT_EQ(o.faults[0].command, 'E');
  EXPECT_EQ(o.faults[0].occurrence, 2);
  EXPECT_EQ(o.faults[0].kind, sim::FaultKind::NoReply);
  EXPECT_EQ(o.faults[1].command, '?');
  EXPECT_EQ(o.faults[1].occurrence, 0);
  EXPECT_EQ(o.faults[1].kind, sim::FaultKind::LateReply);
  EXPECT_DOUBLE_EQ(o.faults[1].lateMs, 80.5);
  EXPECT_EQ(o.faults[2].kind, sim::FaultKind::Vanish);
  EXPECT_EQ(o.faults[3].kind, sim::FaultKind::WrongReply);
  EXPECT_EQ(o.faults[4].kind, sim::FaultKind::ShortReply);
  EXPECT_EQ(o.faults[4].keepBytes, 5);
  EXPECT_EQ(o.faults[5].keepBytes, 1) << "one byte unless told";
  EXPECT_EQ(o.faults[6].kind, sim::FaultKind::StrayAfterReply);
  EXPECT_EQ(o.faults[7].kind, sim::FaultKind::StrayBeforeReply);
  EXPECT_EQ(o.flashOut, "f.bin");
  EXPECT_EQ(o.link, "/tmp/l");
  EXPECT_TRUE(o.exitAfterStop);
  EXPECT_TRUE(o.trace);
  EXPECT_DOUBLE_EQ(o.adapterLatencyMs, 0.5);
}

}  // namespace
}  // namespace bm::targetsim
