// The blocks met by a walk of a word's chain: every block is new the first time and met
// again any time later, whether the chain is short, longer than the blocks looked through
// one by one, or leads back to a block met long before.
#include "app/search/word_files.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<kulong> run(kulong from, kulong to) {
  std::vector<kulong> blocks;
  for (kulong block = from; block <= to; ++block) blocks.push_back(block * 37);
  return blocks;
}

TEST(QvBlocksMetTest, EachBlockIsNewOnlyTheFirstTime) {
  struct Case {
    std::string name;
    std::vector<kulong> blocks;
  };
  std::vector<Case> cases = {
      {"one block", {100}},
      {"a block leading to itself", {100, 100}},
      {"a short loop", {5, 9, 14, 5, 9}},
      {"sixteen blocks and back to the first", run(1, 16)},
      {"seventeen blocks", run(1, 17)},
      {"a long chain", run(1, 200)},
  };
  cases[3].blocks.push_back(37);
  // Back to a block met among the first ones, and to one met after them.
  cases[4].blocks.insert(cases[4].blocks.end(), {37 * 3, 37 * 17, 37 * 18});
  cases[5].blocks.insert(cases[5].blocks.end(), {37 * 150, 37 * 2, 37 * 201, 37 * 201});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QvBlocksMet met;
    std::vector<kulong> seen;
    for (kulong block : c.blocks) {
      bool metBefore = std::find(seen.begin(), seen.end(), block) != seen.end();
      EXPECT_EQ(met.firstMeeting(block), !metBefore) << block;
      if (!metBefore) seen.push_back(block);
    }
  }
}

}  // namespace
