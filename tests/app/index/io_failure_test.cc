// A build and an update of a small tree, run again and again with the n-th call of the
// engine's platform seam failing (ENOSPC, then EIO) until the command succeeds. After
// every failure the command has reported an error, the previous build still opens and
// answers as before, "current_build" names a whole build, and nothing temporary is left.
// An update, failed or not, never writes a byte of the previous build's files that the
// build uses: a table builds share is appended to, past the extent the build recorded.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/commands/command_exception.h"
#include "app/commands/command_interface.h"
#include "app/index/kolvo_index.h"
#include "engine/filememory/posix_seam.h"
#include "engine/index/kolvo_index.h"
#include "tests/support/index_fixture.h"

namespace fs = std::filesystem;

namespace {

// Which call fails, and how: the calls are counted across the whole seam.
struct FailurePlan {
  std::atomic<long> calls{0};
  long failAt = 0;
  int error = 0;
};
FailurePlan plan;
kolvo::PosixCalls real;

bool due() { return ++plan.calls == plan.failAt; }

int failingFtruncate(int fd, off_t length) {
  if (due()) return errno = plan.error, -1;
  return real.ftruncate(fd, length);
}
int failingFallocate(int fd, off_t offset, off_t length) {
  if (due()) return plan.error;  // posix_fallocate answers the error itself
  return real.fallocate(fd, offset, length);
}
void* failingMmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
  if (due()) return errno = plan.error, MAP_FAILED;
  return real.mmap(address, length, protection, flags, fd, offset);
}
void* failingRemap(void* address, size_t oldLength, size_t newLength) {
  if (due()) return errno = plan.error, MAP_FAILED;
  return real.remap(address, oldLength, newLength);
}
ssize_t failingWrite(int fd, const void* bytes, size_t count) {
  if (due()) return errno = plan.error, -1;
  return real.write(fd, bytes, count);
}
int failingFsync(int fd) {
  if (due()) return errno = plan.error, -1;
  return real.fsync(fd);
}
int failingRename(const char* from, const char* to) {
  if (due()) return errno = plan.error, -1;
  return real.rename(from, to);
}

class IoFailureTest : public kolvotest::IndexFixture {
 protected:
  static void SetUpTestSuite() {
    // The engine is linked into this test: the seam it calls is the one set here.
    loadEngine("");
    kolvo::resetPosixCalls();
    real = kolvo::posixCalls();
  }
  void SetUp() override {
    openIndex("the and\n");
    temp.write("docs/fox.txt", "The quick brown fox jumps over the lazy dog.\n");
    temp.write("docs/dog.txt", "A lazy dog and a brown cat.\n");
    temp.write("docs/sub/cat.txt", "brown cat naps; quick cats play\n");
    temp.write("docs/sub/deep/owl.txt", "an owl hoots at the brown moon\n");
    buildDocs();
  }
  void TearDown() override {
    kolvo::resetPosixCalls();
    IndexFixture::TearDown();
  }
  QvResults run(const std::string& line) {
    QvResults results;
    commands.processCommand(line, results);
    return results;
  }
  QvResults searches() {
    QvResults answers;
    for (const char* line : {"find brown", "listresults", "find quick | owl*", "listresults", "find fox & dog"})
      answers.append(run(line));
    return answers;
  }
  void arm(long failAt, int error) {
    plan.calls = 0;
    plan.failAt = failAt;
    plan.error = error;
    kolvo::PosixCalls& calls = kolvo::posixCalls();
    calls = kolvo::PosixCalls{failingFtruncate, failingFallocate, failingMmap, failingRemap,
                              failingWrite, failingFsync, failingRename, calls.ringEnter};
  }
  std::string base() const { return (temp.path() / "kolvo/indexes/default").string() + "/"; }
  // The build "current_build" names is whole, it is the only one, and nothing
  // temporary lies beside it.
  void expectOneWholeBuild(const std::string& context) {
    std::ifstream number(base() + "current_build");
    std::string n;
    number >> n;
    std::string build = base() + "build_" + n + "/";
    for (const char* file : {"index", "files", "words", "skipped", "links", "hash"})
      EXPECT_TRUE(fs::is_regular_file(build + file)) << context << ": " << build << file;
    for (const auto& entry : fs::recursive_directory_iterator(base())) {
      std::string name = entry.path().filename().string();
      bool isBuild = name.rfind("build_", 0) == 0 && entry.is_directory();
      EXPECT_FALSE(isBuild && entry.path().string() + "/" != build) << context << ": " << entry.path();
      EXPECT_FALSE(name.ends_with(".new") || name == "temp") << context << ": " << entry.path();
    }
  }
};

TEST_F(IoFailureTest, EveryFailingCallKeepsThePreviousBuild) {
  long pointsTried = 0;
  int round = 0;
  for (const char* command : {"build", "update"}) {
    for (int error : {ENOSPC, EIO}) {
      ++round;
      // Something for the update to take in; the build reads it as well.
      temp.write("docs/new/round" + std::to_string(round) + ".txt", "brown kiwi number " + std::string(round, 'z'));
      QvResults before = searches();
      for (long n = 1;; ++n) {
        std::string context = std::string(command) + " failing at call " + std::to_string(n) + " with " +
                              (error == ENOSPC ? "ENOSPC" : "EIO");
        arm(n, error);
        bool failed = false;
        std::string message;
        try {
          run(command);
        } catch (const QvCommandException& failure) {
          failed = true;
          message = failure.what();
        }
        long made = plan.calls;
        kolvo::resetPosixCalls();
        if (!failed) {
          // Success only once the planned failure lay beyond the calls made.
          EXPECT_LT(made, n) << context << ": the failure went unreported";
          break;
        }
        ++pointsTried;
        EXPECT_FALSE(message.empty()) << context;
        EXPECT_EQ(message.find("AssertionFailed"), std::string::npos) << context << ": " << message;
        expectOneWholeBuild(context);
        EXPECT_EQ(searches(), before) << context;
        EXPECT_EQ(run("check"), QvResults{"Index default is sound"}) << context;
        ASSERT_LT(n, 5000) << context;
      }
      expectOneWholeBuild(std::string(command) + " at last");
      EXPECT_EQ(run("check"), QvResults{"Index default is sound"});
    }
  }
  // The figure for the record: how many failure points were tried.
  std::printf("failure points tried: %ld\n", pointsTried);
  EXPECT_GT(pointsTried, 40);
  // The index opened afresh answers as the one in memory.
  QvResults inMemory = searches();
  run("open default");
  EXPECT_EQ(searches(), inMemory);
}

// Every file of the build "current_build" names, hard-linked below snapshot with the
// bytes it holds now: what is later written to those files shows through the links,
// even once the build's folder is gone. Of the links table, which later builds append
// to, the bytes the build uses.
std::map<std::string, std::string> linkCurrentBuild(const std::string& base, const std::string& snapshot) {
  std::ifstream number(base + "current_build");
  std::string n;
  number >> n;
  const fs::path build = base + "build_" + n;
  std::map<std::string, std::string> bytes;
  for (const auto& entry : fs::recursive_directory_iterator(build)) {
    if (!entry.is_regular_file()) continue;
    fs::path linked = fs::path(snapshot) / fs::relative(entry.path(), build);
    fs::create_directories(linked.parent_path());
    fs::create_hard_link(entry.path(), linked);
    std::ifstream in(linked, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    bytes[linked.string()] = text.str();
  }
  CKolvoIndex stored(false, snapshot + "/");
  std::string& links = bytes[snapshot + "/links"];
  EXPECT_GE(links.size(), stored.fileLinks->used());
  links.resize(stored.fileLinks->used());
  return bytes;
}

void expectUnchanged(const std::map<std::string, std::string>& bytes, const std::string& context) {
  for (const auto& [path, before] : bytes) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string now = text.str();
    if (fs::path(path).filename() == "links") now.resize(std::min(now.size(), before.size()));
    EXPECT_TRUE(now == before) << context << ": " << path << " was written to";
  }
}

// The inode of a file, to tell a shared file from a copy.
ino_t inodeOf(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

TEST_F(IoFailureTest, UpdatesNeverWriteToThePreviousBuild) {
  // A second program's view: it opened the index before the updates and keeps it.
  QvCommandInterface reader;
  QvKolvoIndex::create("default", reader);
  QvResults opened;
  reader.processCommand("open default", opened);
  auto readerSearches = [&] {
    QvResults answers;
    for (const char* line : {"find brown", "listresults", "find kiwi", "listresults"})
      reader.processCommand(line, answers);
    return answers;
  };
  const QvResults readerBefore = readerSearches();
  for (int round = 1; round <= 3; ++round) {
    std::string snapshot = (temp.path() / ("snapshot" + std::to_string(round))).string();
    auto bytes = linkCurrentBuild(base(), snapshot);
    ASSERT_GT(bytes.size(), 5u);
    temp.write("docs/kiwi" + std::to_string(round) + ".txt", "brown kiwi round " + std::string(round, 'k'));
    temp.write("docs/dog.txt", "A lazy dog and a brown cat, round " + std::string(round, 'r') + "\n");
    // Failures at a spread of points, then the update that goes through.
    for (long n = 1 + round; n < 400; n += 37) {
      arm(n, EIO);
      try {
        run("update");
      } catch (const QvCommandException&) {
      }
      kolvo::resetPosixCalls();
      expectUnchanged(bytes, "round " + std::to_string(round) + ", failure at call " + std::to_string(n));
    }
    run("update");
    expectUnchanged(bytes, "round " + std::to_string(round) + " done");
    // The update appended to the links the previous build used instead of copying them,
    // and removing that build left the file to the new one: its links are the current
    // build's and each round's snapshot's.
    std::ifstream number(base() + "current_build");
    std::string n;
    number >> n;
    EXPECT_EQ(inodeOf(base() + "build_" + n + "/links"), inodeOf(snapshot + "/links")) << round;
    EXPECT_EQ(fs::hard_link_count(snapshot + "/links"), static_cast<uintmax_t>(round) + 1) << round;
    EXPECT_EQ(readerSearches(), readerBefore) << round;
  }
  QvResults found = run("find kiwi");
  EXPECT_EQ(found.back().rfind("Found 3", 0), 0u) << found.back();
  reader.cleanup();
}

}  // namespace
