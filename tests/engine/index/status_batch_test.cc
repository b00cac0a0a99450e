// Statuses asked many to a system call answer exactly what one call per entry answers:
// for files, folders, links (never followed), missing names and names under a file, in
// one folder and by full path, over more entries than one batch holds.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "engine/filememory/posix_seam.h"
#include "engine/index/resource_limits.h"
#include "engine/index/status_batch.h"
#include "tests/support/temp_dir.h"

namespace {

using kolvo::EntryStatus;
using kolvotest::TempDir;

auto fields(const EntryStatus& status) { return std::make_tuple(status.found, status.mode, status.modified, status.size); }

void setTime(const std::string& path, time_t when) {
  timeval times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(lutimes(path.c_str(), times), 0) << path;
}

class StatusBatchTest : public ::testing::TestWithParam<bool> {};

TEST_P(StatusBatchTest, AnswersAsOneCallPerEntry) {
  TempDir temp;
  const std::string root = temp.path().string();
  temp.write("plain.txt", "five!");
  temp.write("folder/inner.txt", "");
  ASSERT_EQ(symlink("plain.txt", (root + "/link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (root + "/dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((root + "/pipe").c_str(), 0600), 0);
  setTime(root + "/plain.txt", 1000000000);
  setTime(root + "/link", 1100000000);
  // Beyond a record's 32 bits: both ways keep them at the record's limits alike.
  std::string big = temp.write("big.bin", "");
  ASSERT_EQ(truncate(big.c_str(), static_cast<off_t>(5ull << 30)), 0);  // sparse
  std::string late = temp.write("late.txt", "x");
  setTime(late, 4102444800);  // 2100-01-01
  // Enough files that the answers come in several batches, each with its own time and size.
  const int many = static_cast<int>(kolvo::limits::statusBatchSize) * 2 + 5;
  for (int i = 0; i < many; ++i) {
    std::string name = "many/f" + std::to_string(i);
    temp.write(name, std::string(static_cast<size_t>(i), 'x'));
    setTime(root + "/" + name, 1200000000 + i);
  }

  // Each case: the names asked relative to a folder (empty: by full path), and whether each is found.
  struct Case {
    std::string folder;
    std::vector<std::string> names;
    std::vector<bool> found;
  };
  std::vector<Case> cases = {
      {root,
       {"plain.txt", "folder", "link", "dangling", "pipe", "missing", "plain.txt/below", "folder/inner.txt", "big.bin",
        "late.txt"},
       {true, true, true, true, true, false, false, true, true, true}},
      {"", {root + "/plain.txt", root + "/gone", root + "/folder", root + "/link"}, {true, false, true, true}},
      {root + "/many", {}, {}},
  };
  for (int i = 0; i < many; ++i) {
    cases.back().names.push_back("f" + std::to_string(i));
    cases.back().found.push_back(true);
  }
  cases.back().names.insert(cases.back().names.begin() + many / 2, "absent");
  cases.back().found.insert(cases.back().found.begin() + many / 2, false);

  kolvo::StatusBatch batch(GetParam());
  if (!GetParam()) {
    EXPECT_FALSE(batch.batched());
  }
  for (const Case& c : cases) {
    SCOPED_TRACE("folder '" + c.folder + "'");
    int folder = c.folder.empty() ? AT_FDCWD : open(c.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_NE(folder, -1);
    std::vector<const char*> names;
    for (const std::string& name : c.names) names.push_back(name.c_str());
    std::vector<EntryStatus> taken(names.size());
    batch.take(folder, names.data(), taken.data(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
      SCOPED_TRACE(c.names[i]);
      EXPECT_EQ(fields(taken[i]), fields(kolvo::statusOf(folder, names[i])));
      EXPECT_EQ(taken[i].found, c.found[i]);
    }
    if (folder != AT_FDCWD) close(folder);
  }
  // The answers are the entries' own, not the link's target nor another entry's.
  std::vector<const char*> names = {"plain.txt", "link", "folder"};
  std::vector<EntryStatus> taken(names.size());
  int folder = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_NE(folder, -1);
  batch.take(folder, names.data(), taken.data(), names.size());
  close(folder);
  EXPECT_TRUE(S_ISREG(taken[0].mode));
  EXPECT_EQ(taken[0].size, 5u);
  EXPECT_EQ(taken[0].modified, 1000000000);
  EXPECT_TRUE(S_ISLNK(taken[1].mode));
  EXPECT_EQ(taken[1].modified, 1100000000);
  EXPECT_TRUE(S_ISDIR(taken[2].mode));
}

INSTANTIATE_TEST_SUITE_P(BatchedAndSingle, StatusBatchTest, ::testing::Bool());

// A ring that fails, is interrupted, takes its requests one at a time or takes none of
// them still gives every status, the ones it could not take asked one by one.
int enterCalls = 0;
long failingEnter(int, unsigned, unsigned, unsigned) {
  ++enterCalls;
  errno = EIO;
  return -1;
}
long interruptedEnter(int ring, unsigned toSubmit, unsigned minComplete, unsigned flags) {
  if (++enterCalls % 2 == 1) {
    errno = EINTR;
    return -1;
  }
  return syscall(__NR_io_uring_enter, ring, toSubmit, minComplete, flags, nullptr, 0);
}
long oneAtATimeEnter(int ring, unsigned toSubmit, unsigned minComplete, unsigned flags) {
  ++enterCalls;
  return syscall(__NR_io_uring_enter, ring, std::min(toSubmit, 1u), std::min(minComplete, 1u), flags, nullptr, 0);
}
long refusingEnter(int, unsigned, unsigned, unsigned) {
  ++enterCalls;
  return 0;
}

TEST(StatusBatchRingFaults, EveryStatusIsStillTaken) {
  TempDir temp;
  const int count = static_cast<int>(kolvo::limits::statusBatchSize) + 7;
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    names.push_back("f" + std::to_string(i));
    temp.write(names.back(), std::string(static_cast<size_t>(i), 'y'));
  }
  names.insert(names.begin() + 3, "absent");
  std::vector<const char*> asked;
  for (const std::string& name : names) asked.push_back(name.c_str());
  int folder = open(temp.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_NE(folder, -1);
  struct Fault {
    const char* label;
    long (*enter)(int, unsigned, unsigned, unsigned);
  };
  for (const Fault& fault : {Fault{"fails", failingEnter}, Fault{"interrupted", interruptedEnter},
                             Fault{"one at a time", oneAtATimeEnter}, Fault{"takes none", refusingEnter}}) {
    SCOPED_TRACE(fault.label);
    kolvo::StatusBatch batch;
    enterCalls = 0;
    kolvo::posixCalls().ringEnter = fault.enter;
    std::vector<EntryStatus> taken(asked.size());
    batch.take(folder, asked.data(), taken.data(), asked.size());
    kolvo::resetPosixCalls();
    // Where the kernel gives no ring there is nothing to enter, and single calls answer.
    EXPECT_EQ(enterCalls > 0, batch.batched());
    for (size_t i = 0; i < asked.size(); ++i) {
      SCOPED_TRACE(names[i]);
      EXPECT_EQ(fields(taken[i]), fields(kolvo::statusOf(folder, asked[i])));
      EXPECT_EQ(taken[i].found, names[i] != "absent");
    }
    // The ring serves the next batch as before.
    std::vector<EntryStatus> again(asked.size());
    batch.take(folder, asked.data(), again.data(), asked.size());
    for (size_t i = 0; i < asked.size(); ++i) EXPECT_EQ(fields(again[i]), fields(taken[i])) << names[i];
  }
  close(folder);
}

}  // namespace
