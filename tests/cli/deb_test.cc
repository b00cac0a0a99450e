// The Debian package: made with CPack into a temporary folder, its control fields and
// file list checked with dpkg-deb, unpacked without root, and the unpacked kolvocmd
// builds an index of samples/ and finds a known word.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/cli/kolvocmd_runner.h"

namespace fs = std::filesystem;
using kolvotest::KolvocmdRun;
using kolvotest::KolvocmdRunner;

namespace {

// Runs the shell command with its output in the file out of folder; answers its status.
int runInto(const kolvotest::TempDir& folder, const std::string& command, const std::string& out) {
  return std::system((command + " >'" + (folder.path() / out).string() + "' 2>&1").c_str());
}

TEST(DebianPackage, ControlFieldsFilesAndTheUnpackedProgram) {
#ifdef KOLVO_SANITIZED
  GTEST_SKIP() << "the package of the sanitized build is the same package, repacked";
#endif
  KolvocmdRunner runner;
  const kolvotest::TempDir& folder = runner.folder();
  std::string packages = (folder.path() / "packages").string();
  ASSERT_EQ(runInto(folder, "cd '" + std::string(KOLVO_BINARY_DIR) + "' && '" KOLVO_CPACK "' -G DEB -B '" + packages + "'", "cpack.log"),
            0)
      << folder.read("cpack.log");
  std::string deb = packages + "/kolvo_" KOLVO_VERSION "_" + [&] {
    runInto(folder, "dpkg --print-architecture", "arch");
    return kolvotest::lines(folder.read("arch")).at(0);
  }() + ".deb";
  ASSERT_TRUE(fs::is_regular_file(deb)) << folder.read("cpack.log");

  // Control fields: name, version, the computed dependencies, a short and a long description.
  ASSERT_EQ(runInto(folder, "dpkg-deb -f '" + deb + "' Package Version Depends Description", "control"), 0);
  std::string control = folder.read("control");
  EXPECT_NE(control.find("Package: kolvo\n"), std::string::npos) << control;
  EXPECT_NE(control.find("Version: " KOLVO_VERSION "\n"), std::string::npos) << control;
  for (const char* library : {"libc6 (>= ", "libstdc++6"})
    EXPECT_NE(control.find(library), std::string::npos) << library << " missing from\n" << control;
  // The libraries linked in from their archives are no dependency; shared, they are.
  for (const char* library : {"libpcre2-8-0", "libexpat1", "liblua5.4-0", "zlib1g", "libminizip1"}) {
#ifdef KOLVO_STATIC_LIBS
    EXPECT_EQ(control.find(library), std::string::npos) << library << " is linked in, yet named in\n" << control;
#else
    EXPECT_NE(control.find(library), std::string::npos) << library << " missing from\n" << control;
#endif
  }
  EXPECT_NE(control.find("Description: desktop full-text indexer\n "), std::string::npos) << control;

  ASSERT_EQ(runInto(folder, "dpkg-deb -c '" + deb + "'", "contents"), 0);
  std::string contents = folder.read("contents");
  for (std::string file : {std::string("./usr/bin/kolvocmd"), "./usr/" + std::string(KOLVO_INSTALL_ENGINEDIR) + "/kolvolib.so",
                           std::string("./usr/include/kolvolib.h"), std::string("./usr/share/man/man1/kolvocmd.1"),
                           std::string("./usr/bin/kolvoserve"), std::string("./usr/share/man/man1/kolvoserve.1"),
                           std::string("./usr/share/man/man3/kolvolib.3"),
                           "./usr/" + std::string(KOLVO_INSTALL_SYSTEMDUSERDIR) + "/kolvo-watch@.service"})
    EXPECT_NE(contents.find(" " + file + "\n"), std::string::npos) << file;

  // Unpacked, the program runs from its own tree without LD_LIBRARY_PATH.
  std::string root = (folder.path() / "root").string();
  ASSERT_EQ(runInto(folder, "dpkg-deb -x '" + deb + "' '" + root + "'", "unpack"), 0) << folder.read("unpack");
  std::string unit = folder.read("root/usr/" + std::string(KOLVO_INSTALL_SYSTEMDUSERDIR) + "/kolvo-watch@.service");
  EXPECT_NE(unit.find("\nExecStart=/usr/bin/kolvocmd %i -w\n"), std::string::npos) << unit;
  KolvocmdRun run = runner.run("new samples\naddroot " + std::string(KOLVO_SOURCE_DIR) +
                                   "/samples\naddinclude *.txt\nbuild\nfind flour\n",
                               {}, root + "/usr/bin/kolvocmd");
  EXPECT_EQ(run.status, 0) << run.err;
  auto answers = run.answers();
  ASSERT_GE(answers.size(), 6u) << run.out;
  ASSERT_EQ(answers[5].size(), 1u) << run.out;
  EXPECT_EQ(answers[5][0].rfind("Found 3 ", 0), 0u) << answers[5][0];
}

}  // namespace
