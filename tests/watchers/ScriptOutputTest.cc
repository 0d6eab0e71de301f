// How the address-change script's output is cut into trace lines within its budget.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tqNotify/notifier/ScriptOutput.h"

namespace {

using kiv::notifier::ScriptOutput;
using kiv::platform::OutputStream;

constexpr auto kOut = OutputStream::kStandardOutput;
constexpr auto kErr = OutputStream::kStandardError;

struct Collected {
  std::vector<std::pair<OutputStream, std::string>> lines;
  ScriptOutput output;
  Collected(std::size_t budget, std::size_t overhead, std::size_t maxLine)
      : output(budget, overhead, maxLine, [this](OutputStream stream, const std::string& line) {
          lines.emplace_back(stream, line);
        }) {}
};

TEST(ScriptOutput, LinesOfEachStreamAreKeptApartWhateverPiecesTheyArriveIn) {
  Collected c(1000, 0, 100);
  c.output.take(kOut, "one\ntw");
  c.output.take(kErr, "err");
  c.output.take(kOut, "o\r\n");
  c.output.take(kErr, "or\n\nlast without end");
  c.output.finish();
  EXPECT_EQ(c.lines, (decltype(c.lines){{kOut, "one"}, {kOut, "two"}, {kErr, "error"}, {kErr, ""},
                                       {kErr, "last without end"}}));
  EXPECT_EQ(c.output.dropped(), 0u);
}

TEST(ScriptOutput, ControlCharactersCannotForgeOrGarbleTraceLines) {
  Collected c(1000, 0, 100);
  c.output.take(kOut, std::string("a\tb\x1b[2Jc\rd\x7f\0e\n", 15));
  EXPECT_EQ(c.lines, (decltype(c.lines){{kOut, "a\tb?[2Jc?d??e"}}));
}

TEST(ScriptOutput, OnceTheBudgetIsSpentEveryLaterByteIsCountedAndDropped) {
  // Each line costs its text and 10 more: two of "12345" fit in 30, the third does not,
  // and a shorter one after it is dropped too so that nothing is cut from the middle.
  Collected c(30, 10, 100);
  c.output.take(kOut, "12345\n12345\n12345\nab\n");
  c.output.take(kErr, "x");
  c.output.finish();
  EXPECT_EQ(c.lines, (decltype(c.lines){{kOut, "12345"}, {kOut, "12345"}}));
  EXPECT_EQ(c.output.dropped(), 6u + 3u + 1u);
}

TEST(ScriptOutput, ALineWithoutEndIsPassedOnInPiecesOfTheLongestLine) {
  Collected c(1000, 0, 4);
  c.output.take(kOut, "abcdefghij");
  c.output.finish();
  EXPECT_EQ(c.lines, (decltype(c.lines){{kOut, "abcd"}, {kOut, "efgh"}, {kOut, "ij"}}));
}

TEST(ScriptOutput, ALineOfExactlyTheLongestLengthStaysOneLineWithEitherEnd) {
  Collected c(1000, 0, 4);
  c.output.take(kOut, "abcd\nefgh\r");
  c.output.take(kOut, "\nijklmnop\nqrst\r\n");
  c.output.finish();
  EXPECT_EQ(c.lines, (decltype(c.lines){{kOut, "abcd"}, {kOut, "efgh"}, {kOut, "ijkl"}, {kOut, "mnop"}, {kOut, "qrst"}}));
  EXPECT_EQ(c.output.dropped(), 0u);
}

TEST(ScriptOutput, ACarriageReturnThatEndsNoLineIsKeptInThePieceItFallsIn) {
  Collected c(1000, 0, 4);
  c.output.take(kOut, "abc\refgh\n");  // the '\r' is the last character of a piece
  c.output.take(kOut, "ijkl\rm\n");     // and here the first of the next one
  c.output.take(kErr, "wxyz\r");         // an unfinished last line
  c.output.finish();
  EXPECT_EQ(c.lines, (decltype(c.lines){{kOut, "abc?"}, {kOut, "efgh"}, {kOut, "ijkl"}, {kOut, "?m"},
                                       {kErr, "wxyz"}, {kErr, "?"}}));
}

}  // namespace
