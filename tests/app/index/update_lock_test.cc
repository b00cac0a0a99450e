// A build or update waits while another program makes a build of the same index; the
// user's Ctrl-C ends that wait with a halt, and the index stays as it was.
#include <gtest/gtest.h>

#include "app/commands/command_interface.h"
#include "app/index/kolvo_index.h"
#include "app/platform/halt_request.h"
#include "tests/support/index_fixture.h"
#include "tests/support/lock_holder.h"

namespace {

class UpdateLockTest : public kolvotest::IndexFixture {
 protected:
  void TearDown() override {
    qvClearHaltRequest();
    IndexFixture::TearDown();
  }
};

TEST_F(UpdateLockTest, CtrlCEndsTheWaitForAnotherProgramsBuild) {
  temp.write("docs/one.txt", "first words");
  buildDocs();
  const int before = currentBuild();
  temp.write("docs/two.txt", "second words");

  for (const char* command : {"update", "build"}) {
    SCOPED_TRACE(command);
    kolvotest::LockHolder other(index->basePath() + "update.lock");
    ASSERT_TRUE(other.holding());
    qvRequestHalt();
    std::string failure;
    try {
      run(command);
    } catch (const QvCommandException& e) {
      failure = e.what();
    }
    qvClearHaltRequest();
    EXPECT_EQ(failure, "Halt requested by user");
    EXPECT_EQ(currentBuild(), before);
    EXPECT_EQ(run("find second"), QvResults{"Found 0 Occurrences: 0"}) << "nothing of the halted update is found";
  }

  // With the lock let go the update runs as ever.
  run("update");
  EXPECT_EQ(currentBuild(), before + 1);
  QvResults found = run("find second; listresults");
  ASSERT_EQ(found.size(), 4u) << testing::PrintToString(found);
  EXPECT_EQ(found[0], "Found 1 Occurrences: 1");
  EXPECT_EQ(found[2].rfind("two.txt\t", 0), 0u) << found[2];
}

}  // namespace
