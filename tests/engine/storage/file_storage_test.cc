// The file table: entries by name and parent, obsolete marking, the accelerator's
// agreement with the stored chains, and the "hash" section.
#include "engine/storage/file_storage.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/filememory/le_fields.h"
#include "engine/kolvolib/entry_guard.h"
#include "tests/support/engine_errors.h"
#include "tests/support/temp_dir.h"

namespace {

using kolvotest::EngineErrors;
using kolvotest::TempDir;

class FileStorageTest : public ::testing::Test {
 protected:
  std::unique_ptr<CFileStorage> reopen() {
    std::FILE* in = std::fopen((dir.slashed() + "hash").c_str(), "rb");
    auto table = kolvo::guardEntry<std::unique_ptr<CFileStorage>>(
        nullptr, [&] { return std::make_unique<CFileStorage>(dir.slashed() + "files", in); });
    if (in) std::fclose(in);
    return table;
  }
  void store(CFileStorage& table) {
    table.disableWrite();
    std::FILE* out = std::fopen((dir.slashed() + "hash").c_str(), "wb");
    ASSERT_TRUE(table.store(out));
    std::fclose(out);
  }
  // count entries "child0", "child1", ... under parent.
  std::vector<uint32_t> addChildren(uint32_t parent, int count, const std::string& stem = "child") {
    std::vector<uint32_t> children;
    for (int i = 0; i < count; ++i) {
      uint32_t f = files.addFile((stem + std::to_string(i)).c_str());
      files.setParent(f, parent);
      children.push_back(f);
    }
    return children;
  }
  // First live entry by name and parent.
  using Model = std::map<std::pair<std::string, uint32_t>, uint32_t>;
  // 3,000 entries "n0", "n1", ... under root, every otherEvery-th under other, stored,
  // reopened and writable again; model says where each is.
  std::unique_ptr<CFileStorage> storedWithModel(Model& model, uint32_t& root, uint32_t& other, int otherEvery) {
    root = files.addFile("/r");
    other = files.addFile("/o");
    for (int i = 0; i < 3000; ++i) {
      uint32_t parent = i % otherEvery ? root : other;
      std::string name = "n" + std::to_string(i);
      uint32_t f = files.addFile(name.c_str());
      files.setParent(f, parent);
      model.emplace(std::make_pair(name, parent), f);
    }
    store(files);
    auto table = reopen();
    if (table && !table->enableWrite()) table.reset();
    return table;
  }
  // A name "n<below a span>" under root or other, drawn from random.
  static std::pair<std::string, uint32_t> randomKey(std::mt19937& random, unsigned span, uint32_t root,
                                                    uint32_t other) {
    std::string name = "n" + std::to_string(random() % span);
    return {name, random() % 2 ? root : other};
  }
  TempDir dir;
  EngineErrors errors;
  CFileStorage files{dir.slashed() + "files", 1000};
};

TEST_F(FileStorageTest, EntriesAreNumberedAfterTheHeaderAndPrefix) {
  uint32_t root = files.addFile("/home/u/docs");
  EXPECT_EQ(root, 36u);
  EXPECT_EQ(files.addFile("a.txt"), 36u + 12 + 21);
  EXPECT_EQ(files.getParent(root), 0u);
  EXPECT_EQ(files.getSize(root), 0u);
  EXPECT_EQ(files.getTime(root), 0);
}

TEST_F(FileStorageTest, SameNameInTwoFoldersIsTwoEntries) {
  uint32_t a = files.addFile("/a");
  uint32_t b = files.addFile("/b");
  uint32_t inA = files.addFile("readme");
  files.setParent(inA, a);
  uint32_t inB = files.addFile("readme");
  files.setParent(inB, b);
  EXPECT_EQ(files.lookupFile("readme", a), inA);
  EXPECT_EQ(files.lookupFile("readme", b), inB);
  EXPECT_EQ(files.lookupFile("readme", 0), 0u);
}

// Two files whose names differ only in letter case are two files here: each is its own
// entry, whether found through the accelerator, the stored chains or a reopened table.
TEST_F(FileStorageTest, NamesDifferingOnlyInCaseAreTwoEntries) {
  uint32_t folder = files.addFile("/docs");
  const std::vector<std::string> names = {"f7.txt", "F7.txt", "F7.TXT", "readme", "README", "\xC9t\xE9", "\xE9t\xE9"};
  std::vector<uint32_t> entries;
  for (const std::string& name : names) {
    EXPECT_EQ(files.lookupFile(name.c_str(), folder), 0u) << name << " before it is added";
    entries.push_back(files.addFile(name.c_str()));
    files.setParent(entries.back(), folder);
  }
  auto expectEach = [&](CFileStorage& table, const char* how) {
    for (size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(table.lookupFile(names[i].c_str(), folder), entries[i]) << how << " " << names[i];
      EXPECT_EQ(table.lookupFileByChain(names[i].c_str(), folder), entries[i]) << how << " " << names[i];
    }
    EXPECT_EQ(table.lookupFile("Readme", folder), 0u) << how;
    EXPECT_EQ(table.lookupFile("f7.TXT", folder), 0u) << how;
  };
  expectEach(files, "while made");
  store(files);
  auto table = reopen();
  ASSERT_NE(table, nullptr);
  expectEach(*table, "reopened");
  // One twin gone leaves the other found.
  ASSERT_TRUE(table->enableWrite());
  table->markObsolete(entries[0]);
  EXPECT_EQ(table->lookupFile("f7.txt", folder), 0u);
  EXPECT_EQ(table->lookupFile("F7.txt", folder), entries[1]);
  EXPECT_TRUE(errors.codes().empty());
}

TEST_F(FileStorageTest, ObsoleteEntryIsWalkedButNoLongerFound) {
  uint32_t dirId = files.addFile("/d");
  uint32_t old = files.addFile("x.txt");
  files.setParent(old, dirId);
  files.markObsolete(old);
  EXPECT_TRUE(files.isObsolete(old));
  EXPECT_EQ(static_cast<unsigned char>(files.getText(old)[0]), 0xFF);
  EXPECT_EQ(files.lookupFile("x.txt", dirId), 0u);
  uint32_t fresh = files.addFile("x.txt");
  files.setParent(fresh, dirId);
  EXPECT_NE(fresh, old);
  EXPECT_EQ(files.lookupFile("x.txt", dirId), fresh);
  std::vector<uint32_t> walked;
  for (uint32_t f = files.getFirst(); f; f = files.getNext(f)) walked.push_back(f);
  EXPECT_EQ(walked, (std::vector<uint32_t>{dirId, old, fresh}));
}

TEST_F(FileStorageTest, EmptyNameIsNotMarked) {
  uint32_t empty = files.addFile("");
  files.markObsolete(empty);
  EXPECT_FALSE(files.isObsolete(empty));
  EXPECT_EQ(files.lookupFile("", 0), empty);
}

TEST_F(FileStorageTest, FirstOfTwoEqualEntriesIsFound) {
  uint32_t first = files.addFile("twin");
  uint32_t second = files.addFile("twin");
  EXPECT_LT(first, second);
  EXPECT_EQ(files.lookupFile("twin", 0), first);
  files.markObsolete(first);
  EXPECT_EQ(files.lookupFile("twin", 0), second);
}

TEST_F(FileStorageTest, AcceleratorAgreesWithTheStoredChains) {
  // Random names, parents, re-parenting and obsolete marks, far more entries than
  // buckets: every lookup must give what the chain walk gives.
  std::mt19937 random(7);
  std::vector<uint32_t> all;
  auto name = [&](int n) { return "f" + std::to_string(n % 700) + (n % 3 ? ".txt" : ".TXT"); };
  for (int i = 0; i < 5000; ++i) {
    uint32_t f = files.addFile(name(static_cast<int>(random() % 2000)).c_str());
    all.push_back(f);
    if (!all.empty()) files.setParent(f, all[random() % all.size()] % 7 == 0 ? 0 : all[random() % 20 % all.size()]);
    if (random() % 10 == 0) files.markObsolete(all[random() % all.size()]);
    if (random() % 13 == 0) files.setParent(all[random() % all.size()], all[random() % all.size()]);
  }
  int found = 0;
  for (int n = 0; n < 2000; ++n) {
    std::string query = name(n);
    for (uint32_t parent : {0u, all[0], all[1], all[5], all[13], all[19]}) {
      uint32_t byChain = files.lookupFileByChain(query.c_str(), parent);
      ASSERT_EQ(files.lookupFile(query.c_str(), parent), byChain) << query << " under " << parent;
      if (byChain) ++found;
    }
  }
  EXPECT_GT(found, 100);
}

TEST_F(FileStorageTest, ReopenedTableIndexesItsNamesAsItsChainsHoldThem) {
  // A reopened table builds its accelerator from what is stored: in table order when
  // the chains hold every entry once, from the chains when damage has cut one off.
  std::mt19937 random(11);
  std::vector<uint32_t> all, folders;
  for (int i = 0; i < 3000; ++i) {
    if (i % 40 == 0) {
      folders.push_back(files.addFile(("/d" + std::to_string(i)).c_str()));
      continue;
    }
    uint32_t f = files.addFile(("n" + std::to_string(random() % 300)).c_str());
    files.setParent(f, folders[random() % folders.size()]);
    all.push_back(f);
    if (random() % 9 == 0) files.markObsolete(all[random() % all.size()]);
  }
  auto agree = [&](CFileStorage& table) {
    int found = 0;
    for (int n = 0; n < 300; ++n) {
      std::string query = "n" + std::to_string(n);
      for (size_t k = 0; k < folders.size(); k += 5) {
        uint32_t byChain = table.lookupFileByChain(query.c_str(), folders[k]);
        EXPECT_EQ(table.lookupFile(query.c_str(), folders[k]), byChain) << query << " under " << folders[k];
        if (byChain) ++found;
      }
    }
    return found;
  };
  store(files);
  {
    auto reopened = reopen();
    ASSERT_NE(reopened, nullptr);
    EXPECT_GT(agree(*reopened), 100);
  }
  // Cut off the chain of the bucket that holds the first file: its entries are no longer
  // found, as a chain walk no longer finds them.
  std::string hash = dir.read("hash");
  uint32_t lost = all.front();
  uint32_t bucket = 0;
  while (kolvo::loadU32(hash.data() + 16 + 4 * bucket) != lost) {
    ++bucket;
    ASSERT_LT(bucket, 1000u) << "the first file does not head its bucket";
  }
  {
    std::FILE* f = std::fopen((dir.slashed() + "hash").c_str(), "r+b");
    unsigned char head[4] = {0, 0, 0, 0};
    std::fseek(f, static_cast<long>(16 + 4 * bucket), SEEK_SET);
    std::fwrite(head, 1, 4, f);
    std::fclose(f);
  }
  auto damaged = reopen();
  ASSERT_NE(damaged, nullptr);
  EXPECT_GT(agree(*damaged), 100);
  EXPECT_EQ(damaged->lookupFile(damaged->getText(lost), damaged->getParent(lost)), 0u);
  EXPECT_TRUE(errors.codes().empty());
}

TEST_F(FileStorageTest, StoredAndReopenedTableFindsTheSameEntries) {
  uint32_t root = files.addFile("/r");
  std::vector<uint32_t> children;
  for (int i = 0; i < 1500; ++i) {
    uint32_t f = files.addFile(("child" + std::to_string(i)).c_str());
    files.setParent(f, root);
    files.setSize(f, static_cast<uint32_t>(i * 3));
    files.setTime(f, 1700000000 + i);
    children.push_back(f);
  }
  store(files);
  auto reopened = reopen();
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(reopened->getBucketCount(), 1000u);
  for (int i = 0; i < 1500; i += 37) {
    uint32_t f = reopened->lookupFile(("child" + std::to_string(i)).c_str(), root);
    EXPECT_EQ(f, children[i]);
    EXPECT_EQ(reopened->getSize(f), static_cast<uint32_t>(i * 3));
    EXPECT_EQ(reopened->getTime(f), 1700000000 + i);
  }
  // The reopened table is read-only: marking or adding is refused, not a crash.
  EXPECT_EQ(kolvo::guardEntry<uint32_t>(0, [&] { return reopened->addFile("new"); }), 0u);
  kolvo::guardEntry([&] { reopened->markObsolete(children[0]); });
  EXPECT_EQ(errors.codes(), (std::vector<std::string>{"AssertionFailed", "AssertionFailed"}));
  EXPECT_FALSE(reopened->isObsolete(children[0]));
  // Writable again, it goes on adding at the end of the same chains.
  ASSERT_TRUE(reopened->enableWrite());
  uint32_t late = reopened->addFile("child7");
  reopened->setParent(late, root);
  EXPECT_EQ(reopened->lookupFile("child7", root), children[7]);
  EXPECT_EQ(reopened->lookupFileByChain("child7", root), children[7]);
  reopened->markObsolete(children[7]);
  EXPECT_EQ(reopened->lookupFile("child7", root), late);
  EXPECT_EQ(reopened->lookupFileByChain("child7", root), late);
}

// A reopened table tells its file numbers from other offsets before any name lookup has
// built its accelerator, and answers alike once one has.
TEST_F(FileStorageTest, ReopenedTableTellsFileNumbersBeforeAndAfterALookup) {
  uint32_t root = files.addFile("/r");
  std::vector<uint32_t> children = addChildren(root, 3000);
  files.markObsolete(children[5]);
  store(files);
  for (bool lookedUp : {false, true}) {
    auto reopened = reopen();
    ASSERT_NE(reopened, nullptr);
    if (lookedUp) {
      EXPECT_EQ(reopened->lookupFile("child9", root), children[9]);
    }
    // Asked again, a number once confirmed or refused answers the same.
    for (int pass = 0; pass < 2; ++pass) {
      EXPECT_TRUE(reopened->isFileNumber(root)) << lookedUp;
      for (int i = 0; i < 3000; i += 7) {
        EXPECT_TRUE(reopened->isFileNumber(children[i])) << i;
        EXPECT_FALSE(reopened->isFileNumber(children[i] + 1)) << i;  // inside a name
        EXPECT_FALSE(reopened->isFileNumber(children[i] - 1)) << i;  // a name's end
      }
      EXPECT_TRUE(reopened->isFileNumber(children[5]));  // obsolete, still an entry
    }
    EXPECT_EQ(reopened->lookupFile("child5", root), 0u);
    EXPECT_EQ(reopened->lookupFile("child2999", root), children[2999]);
  }
  EXPECT_TRUE(errors.codes().empty());
}

// A table much larger than one step from a known entry: numbers asked in any order,
// entries and offsets inside entries mixed, are told apart as the accelerator tells them.
TEST_F(FileStorageTest, LargeReopenedTableTellsFileNumbersAskedInAnyOrder) {
  uint32_t root = files.addFile("/r");
  std::vector<uint32_t> entries{root};
  std::vector<std::string> names{"/r"};
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    std::string name = "f" + std::to_string(i) + std::string(random() % 40, 'x');
    names.push_back(name);
    uint32_t f = files.addFile(name.c_str());
    files.setParent(f, root);
    entries.push_back(f);
  }
  store(files);
  std::vector<std::pair<uint32_t, bool>> asked;
  for (uint32_t entry : entries) {
    asked.emplace_back(entry, true);
    asked.emplace_back(entry + 1, false);   // inside the name
    asked.emplace_back(entry - 3, false);   // inside the prefix
  }
  std::shuffle(asked.begin(), asked.end(), random);
  auto reopened = reopen();
  ASSERT_NE(reopened, nullptr);
  for (const auto& [number, isEntry] : asked) ASSERT_EQ(reopened->isFileNumber(number), isEntry) << number;
  // After a name lookup, the accelerator answers the same.
  EXPECT_EQ(reopened->lookupFile(names[1].c_str(), root), entries[1]);
  for (std::size_t i = 0; i < asked.size(); i += 13) EXPECT_EQ(reopened->isFileNumber(asked[i].first), asked[i].second);
}

// Asked many numbers at once, a table answers each as isFileNumber would alone: before
// its accelerator is built (each bucket's chain walked once for its group) and after,
// in any order and with numbers repeated.
TEST_F(FileStorageTest, ManyNumbersAtOnceAreToldAsOneByOne) {
  uint32_t root = files.addFile("/r");
  std::vector<uint32_t> children = addChildren(root, 3000);
  files.markObsolete(children[5]);
  files.markObsolete(children[2999]);
  store(files);
  std::vector<uint32_t> numbers;
  for (uint32_t at = 0; at < files.used() + 8; ++at) numbers.push_back(at);
  numbers.insert(numbers.end(), children.begin(), children.begin() + 50);
  numbers.push_back(UINT32_MAX);
  std::shuffle(numbers.begin(), numbers.end(), std::mt19937(7));
  auto single = reopen();
  ASSERT_NE(single, nullptr);
  std::vector<unsigned char> expected;
  for (uint32_t at : numbers) expected.push_back(single->isFileNumber(at) ? 1 : 0);
  EXPECT_EQ(std::count(expected.begin(), expected.end(), 1), 3001 + 50);
  for (bool lookedUp : {false, true}) {
    auto batch = reopen();
    ASSERT_NE(batch, nullptr);
    if (lookedUp) {
      EXPECT_EQ(batch->lookupFile("child9", root), children[9]);
    }
    std::vector<unsigned char> told(numbers.size(), 9);
    batch->checkFileNumbers(numbers.data(), numbers.size(), told.data());
    EXPECT_EQ(told, expected) << lookedUp;
    // A few numbers take the one-by-one way.
    std::vector<uint32_t> few{children[3], children[3] + 1, root, children[5]};
    std::vector<unsigned char> fewTold(few.size(), 9);
    batch->checkFileNumbers(few.data(), few.size(), fewTold.data());
    EXPECT_EQ(fewTold, (std::vector<unsigned char>{1, 0, 1, 1}));
  }
  EXPECT_TRUE(errors.codes().empty());
}

// Numbers spread thinly over a large table are settled by the bucket chains, numbers
// as dense as a search's answer by one walk of the entries: both as one by one.
TEST_F(FileStorageTest, SparseAndDenseNumbersAreToldAsOneByOne) {
  uint32_t root = files.addFile("/r");
  std::vector<uint32_t> children = addChildren(root, 40000, "a-child-with-a-rather-longer-name-");
  files.markObsolete(children[26]);
  store(files);
  for (std::size_t step : {13u, 2u}) {
    std::vector<uint32_t> numbers;
    for (std::size_t i = 0; i < children.size(); i += step) numbers.push_back(children[i] + (i % 3 == 1 ? 1 : 0));
    std::shuffle(numbers.begin(), numbers.end(), std::mt19937(static_cast<unsigned>(step)));
    auto single = reopen();
    ASSERT_NE(single, nullptr);
    std::vector<unsigned char> expected;
    for (uint32_t at : numbers) expected.push_back(single->isFileNumber(at) ? 1 : 0);
    auto batch = reopen();
    ASSERT_NE(batch, nullptr);
    std::vector<unsigned char> told(numbers.size(), 9);
    batch->checkFileNumbers(numbers.data(), numbers.size(), told.data());
    EXPECT_EQ(told, expected) << step;
    EXPECT_GT(std::count(told.begin(), told.end(), 1), 0);
    EXPECT_GT(std::count(told.begin(), told.end(), 0), 0);
  }
  EXPECT_TRUE(errors.codes().empty());
}

// After a walk of the entries in order, the folders of the files walked (and numbers
// inside names, past the walk, and of entries added since) are told as the accelerator
// tells them.
TEST_F(FileStorageTest, NumbersAskedAfterAWalkInOrderAreToldAsTheAcceleratorTellsThem) {
  uint32_t root = files.addFile("/r");
  std::vector<uint32_t> folders, children;
  for (int f = 0; f < 30; ++f) {
    folders.push_back(files.addFile(("folder" + std::to_string(f)).c_str()));
    files.setParent(folders.back(), root);
    std::vector<uint32_t> some = addChildren(folders.back(), 400, "f" + std::to_string(f) + "-a-longer-child-name-");
    children.insert(children.end(), some.begin(), some.end());
  }
  files.markObsolete(children[1234]);
  store(files);
  // Every fifth file of the first two thirds: the walk stops well before the end.
  std::vector<uint32_t> listed;
  for (std::size_t i = 0; i < children.size() * 2 / 3; i += 5) listed.push_back(children[i]);
  std::vector<uint32_t> asked = folders;
  for (uint32_t folder : folders) asked.push_back(folder + 3);
  asked.insert(asked.end(), {root, root + 1, children[1234], children[7000], children[11999], children[11999] + 2,
                             children[5], children[5] - 1, UINT32_MAX});
  auto model = reopen();
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->lookupFile("no-such-name", root), 0u);  // builds the model's accelerator
  auto table = reopen();
  ASSERT_NE(table, nullptr);
  std::vector<unsigned char> told(listed.size(), 9);
  table->checkFileNumbers(listed.data(), listed.size(), told.data());
  EXPECT_EQ(std::count(told.begin(), told.end(), 1), static_cast<long>(listed.size()));
  for (uint32_t at : asked) EXPECT_EQ(table->isFileNumber(at), model->isFileNumber(at)) << at;
  // An entry added after the walk lies past it.
  ASSERT_TRUE(table->enableWrite());
  uint32_t added = table->addFile("added-later");
  table->setParent(added, folders[2]);
  EXPECT_TRUE(table->isFileNumber(added));
  EXPECT_FALSE(table->isFileNumber(added + 1));
  for (uint32_t at : asked) EXPECT_EQ(table->isFileNumber(at), model->isFileNumber(at)) << at;
  EXPECT_TRUE(errors.codes().empty());
}

// A freshly opened table asked a few numbers walks its stored chains (through the file,
// the largest number first): whatever their order, the answers are those of the
// accelerator, and a name lookup afterwards finds its entry.
TEST_F(FileStorageTest, FewNumbersOfAFreshTableAreToldAsTheAcceleratorTellsThem) {
  uint32_t root = files.addFile("/r");
  std::vector<uint32_t> children = addChildren(root, 20000, "a-child-with-a-rather-longer-name-");
  files.markObsolete(children[77]);
  store(files);
  const std::vector<std::vector<uint32_t>> asked{
      {children[19999], children[3], root},
      {children[5], children[12000], children[12000] + 1, children[19000] - 1},
      {children[77], children[40], children[18000] + 3, children[9000], children[9001]},
      {root + 1, children[0] - 20, UINT32_MAX, children[15000]},
  };
  auto model = reopen();
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->lookupFile("no-such-name", root), 0u);  // builds the model's accelerator
  for (const std::vector<uint32_t>& numbers : asked) {
    std::vector<unsigned char> expected;
    for (uint32_t at : numbers) expected.push_back(model->isFileNumber(at) ? 1 : 0);
    for (bool reversed : {false, true}) {
      std::vector<uint32_t> order = numbers;
      std::vector<unsigned char> want = expected;
      if (reversed) {
        std::reverse(order.begin(), order.end());
        std::reverse(want.begin(), want.end());
      }
      auto fresh = reopen();
      ASSERT_NE(fresh, nullptr);
      std::vector<unsigned char> told(order.size(), 9);
      fresh->checkFileNumbers(order.data(), order.size(), told.data());
      EXPECT_EQ(told, want) << numbers.front() << (reversed ? " reversed" : "");
      EXPECT_EQ(fresh->lookupFile("a-child-with-a-rather-longer-name-123", root), children[123]);
    }
  }
  EXPECT_TRUE(errors.codes().empty());
}

TEST_F(FileStorageTest, HashSectionHasTagPrefixAndBuckets) {
  store(files);
  std::string bytes = dir.read("hash");
  ASSERT_EQ(bytes.size(), 4u * (4 + 1000));
  EXPECT_EQ(kolvo::loadU32(bytes.data()), 12370001u);
  EXPECT_EQ(kolvo::loadU32(bytes.data() + 4), 20u);
  EXPECT_EQ(kolvo::loadU32(bytes.data() + 8), 12340001u);
  EXPECT_EQ(kolvo::loadU32(bytes.data() + 12), 1000u);
  std::string wrong = bytes;
  kolvo::storeU32(wrong.data() + 4, 16);
  dir.write("hash", wrong);
  EXPECT_EQ(reopen(), nullptr);
  EXPECT_EQ(errors.errors(), std::vector<std::string>{"StorageReadError|" + dir.slashed() + "files"});
}

TEST_F(FileStorageTest, LoopedChainIsDetectedWhenIndexing) {
  uint32_t a = files.addFile("same");
  uint32_t b = files.addFile("same");
  uint32_t c = files.addFile("same");
  store(files);
  {
    std::FILE* f = std::fopen((dir.slashed() + "files").c_str(), "r+b");
    unsigned char link[4];
    kolvo::storeU32(link, a);
    std::fseek(f, static_cast<long>(b - 20), SEEK_SET);
    std::fwrite(link, 1, 4, f);
    std::fclose(f);
  }
  auto reopened = reopen();
  ASSERT_NE(reopened, nullptr);
  // Numbers checked many at once meet the loop and end: c, beyond it, is still told an
  // entry by stepping from the first one.
  std::vector<uint32_t> many(2001, c);
  std::vector<unsigned char> told(many.size());
  kolvo::guardEntry([&] { reopened->checkFileNumbers(many.data(), many.size(), told.data()); });
  EXPECT_EQ(std::count(told.begin(), told.end(), 1), static_cast<std::ptrdiff_t>(many.size()));
  EXPECT_TRUE(errors.codes().empty());
  // A lookup that walks the looped chain to its end finds the loop.
  EXPECT_EQ(kolvo::guardEntry<uint32_t>(9, [&] { return reopened->lookupFile("same", 5); }), 9u);
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"AssertionFailed"});
}

// A reopened table answers its first lookups from the stored chains and builds the
// accelerator only once those walks have cost as much; across that switch, additions,
// moves and obsolete marks are found exactly as a model of them says.
TEST_F(FileStorageTest, ChainWalksThenTheAcceleratorAgreeWithAModel) {
  Model model;
  uint32_t root = 0, other = 0;
  auto table = storedWithModel(model, root, other, 3);
  ASSERT_NE(table, nullptr);
  std::mt19937 random(5);
  for (int step = 0; step < 4000; ++step) {
    auto key = randomKey(random, 3500, root, other);
    const auto& [name, parent] = key;
    uint32_t expected = model.count(key) ? model[key] : 0;
    ASSERT_EQ(table->lookupFile(name.c_str(), parent), expected) << step << " " << name;
    switch (random() % 4) {
      case 0:
        if (expected) {
          table->markObsolete(expected);
          model.erase(key);
        }
        break;
      case 1:
        if (!expected) {
          uint32_t added = table->addFile(name.c_str());
          table->setParent(added, parent);
          model.emplace(key, added);
        }
        break;
      default:
        break;
    }
  }
  // Every name once more, and the chains as stored agree with it.
  for (const auto& [key, entry] : model) {
    EXPECT_EQ(table->lookupFile(key.first.c_str(), key.second), entry) << key.first;
    EXPECT_EQ(table->lookupFileByChain(key.first.c_str(), key.second), entry) << key.first;
  }
  EXPECT_TRUE(errors.codes().empty());
}

}  // namespace

namespace {

TEST_F(FileStorageTest, AReleasedAcceleratorIsBuiltAgainForTheNextLookupOrAddition) {
  // Released after the first folder, after the last entry was added and before its
  // parent was set, and with an obsolete entry among them: every name is found under
  // its parent as before, and entries added afterwards join the same chains.
  uint32_t folder = files.addFile("/docs");
  std::vector<uint32_t> entries;
  for (int i = 0; i < 300; ++i) {
    entries.push_back(files.addFile(("n" + std::to_string(i % 150)).c_str()));
    files.setParent(entries.back(), i < 150 ? folder : entries[0]);
  }
  files.markObsolete(entries[7]);
  files.releaseAccelerator();
  uint32_t late = files.addFile("late");
  files.releaseAccelerator();
  files.setParent(late, folder);
  for (int i = 0; i < 300; ++i) {
    SCOPED_TRACE(i);
    uint32_t parent = i < 150 ? folder : entries[0];
    std::string name = "n" + std::to_string(i % 150);
    uint32_t expected = i == 7 ? 0 : entries[i];
    EXPECT_EQ(files.lookupFile(name.c_str(), parent), expected);
    EXPECT_EQ(files.lookupFileByChain(name.c_str(), parent), expected);
  }
  EXPECT_EQ(files.lookupFile("late", folder), late);
  files.releaseAccelerator();
  uint32_t later = files.addFile("later");
  files.setParent(later, folder);
  EXPECT_EQ(files.lookupFile("later", folder), later);
  EXPECT_EQ(files.lookupFileByChain("later", folder), later);
  EXPECT_TRUE(files.isFileNumber(late));
  EXPECT_TRUE(errors.errors().empty());
}

}  // namespace

namespace {

// Many additions to a reopened table, beyond those that walk their own chain, take the
// chains' tails from one walk of them all: every entry joins the end of its chain, as
// lookups before and after the accelerator, and a reopening, tell.
TEST_F(FileStorageTest, ManyAdditionsToAReopenedTableJoinTheEndsOfTheStoredChains) {
  Model model;
  uint32_t root = 0, other = 0;
  auto table = storedWithModel(model, root, other, 4);
  ASSERT_NE(table, nullptr);
  std::mt19937 random(3);
  for (int step = 0; step < 1500; ++step) {
    auto key = randomKey(random, 4000, root, other);
    const auto& [name, parent] = key;
    // An update's way: the old entry obsolete, the new one added after it.
    if (auto known = model.find(key); known != model.end() && random() % 2) {
      table->markObsolete(known->second);
      model.erase(known);
    }
    if (model.count(key)) continue;
    uint32_t added = table->addFile(name.c_str());
    table->setParent(added, parent);
    model.emplace(key, added);
  }
  auto agree = [&](CFileStorage& checked) {
    for (const auto& [key, entry] : model) {
      ASSERT_EQ(checked.lookupFileByChain(key.first.c_str(), key.second), entry) << key.first;
      ASSERT_EQ(checked.lookupFile(key.first.c_str(), key.second), entry) << key.first;
    }
  };
  agree(*table);
  store(*table);
  table.reset();
  auto again = reopen();
  ASSERT_NE(again, nullptr);
  agree(*again);
  EXPECT_TRUE(errors.codes().empty());
}

// A looped chain met by the walk for every tail is reported, not walked for ever.
TEST_F(FileStorageTest, LoopedChainIsDetectedWhenTakingEveryTail) {
  std::vector<uint32_t> same;
  for (int i = 0; i < 3; ++i) same.push_back(files.addFile("same"));
  for (int i = 0; i < 200; ++i) files.addFile(("n" + std::to_string(i)).c_str());
  store(files);
  {
    std::FILE* f = std::fopen((dir.slashed() + "files").c_str(), "r+b");
    unsigned char link[4];
    kolvo::storeU32(link, same[0]);
    std::fseek(f, static_cast<long>(same[1] - 20), SEEK_SET);
    std::fwrite(link, 1, 4, f);
    std::fclose(f);
  }
  auto reopened = reopen();
  ASSERT_NE(reopened, nullptr);
  ASSERT_TRUE(reopened->enableWrite());
  // Additions with names of other chains, until one takes every tail.
  uint32_t added = 1;
  for (int i = 0; i < 200 && added != 0; ++i)
    added = kolvo::guardEntry<uint32_t>(0, [&] { return reopened->addFile(("m" + std::to_string(i)).c_str()); });
  EXPECT_EQ(added, 0u);
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"AssertionFailed"});
}

}  // namespace
