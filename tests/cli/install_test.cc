// The installed program: `cmake --install` into a temporary prefix lays out the program,
// the engine, the header and the rest, and the installed kolvocmd finds its engine
// without LD_LIBRARY_PATH, builds an index of samples/ and finds a known word.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/cli/kolvocmd_runner.h"

namespace fs = std::filesystem;
using kolvotest::KolvocmdRun;
using kolvotest::KolvocmdRunner;

namespace {

TEST(Install, PrefixHoldsTheLayoutAndTheProgramRunsFromIt) {
  KolvocmdRunner runner;
  fs::path prefix = runner.folder().path() / "prefix";
  std::string install = std::string(KOLVO_CMAKE) + " --install '" + KOLVO_BINARY_DIR + "' --prefix '" +
                        prefix.string() + "' >'" + (runner.folder().path() / "install.log").string() + "' 2>&1";
  ASSERT_EQ(std::system(install.c_str()), 0) << runner.folder().read("install.log");

  const std::string engine = std::string(KOLVO_INSTALL_ENGINEDIR) + "/kolvolib.so";
  for (std::string file : {std::string(KOLVO_INSTALL_BINDIR) + "/kolvocmd",
                           std::string(KOLVO_INSTALL_BINDIR) + "/kolvoserve", engine,
                           std::string(KOLVO_INSTALL_INCLUDEDIR) + "/kolvolib.h",
                           std::string(KOLVO_INSTALL_LIBDIR) + "/pkgconfig/kolvolib.pc",
                           std::string(KOLVO_INSTALL_LOCALEDIR) + "/de/LC_MESSAGES/kolvocmd.mo",
                           std::string(KOLVO_INSTALL_DATADIR) + "/bash-completion/completions/kolvocmd",
                           std::string(KOLVO_INSTALL_MANDIR) + "/man1/kolvocmd.1",
                           std::string(KOLVO_INSTALL_MANDIR) + "/man1/kolvoserve.1",
                           std::string(KOLVO_INSTALL_MANDIR) + "/man3/kolvolib.3"})
    EXPECT_TRUE(fs::is_regular_file(prefix / file)) << file;
  // The user service of the watch runs the installed program.
  std::string unit = runner.folder().read(
      (fs::path("prefix") / KOLVO_INSTALL_SYSTEMDUSERDIR / "kolvo-watch@.service").string());
  EXPECT_NE(unit.find("\nExecStart=" + (prefix / KOLVO_INSTALL_BINDIR / "kolvocmd").string() + " %i -w\n"),
            std::string::npos)
      << unit;
  // Nothing of the engine's internals is installed beside its header.
  EXPECT_EQ(std::distance(fs::directory_iterator(prefix / KOLVO_INSTALL_INCLUDEDIR), fs::directory_iterator()), 1);

  // pkg-config's answer leads to the installed engine, wherever the prefix lies.
  std::string query = "PKG_CONFIG_PATH='" + (prefix / KOLVO_INSTALL_LIBDIR / "pkgconfig").string() +
                      "' pkg-config --variable=engine kolvolib >'" + (runner.folder().path() / "pc").string() + "'";
  ASSERT_EQ(std::system(query.c_str()), 0);
  std::string reported = runner.folder().read("pc");
  while (!reported.empty() && reported.back() == '\n') reported.pop_back();
  EXPECT_TRUE(fs::equivalent(reported, prefix / engine)) << reported;

  // The runner clears LD_LIBRARY_PATH: the program must find the engine itself.
  std::string program = (prefix / KOLVO_INSTALL_BINDIR / "kolvocmd").string();
  KolvocmdRun run = runner.run("new samples\naddroot " + std::string(KOLVO_SOURCE_DIR) +
                                   "/samples\naddinclude *.txt\nbuild\nfind flour\nlistresults\n",
                               {}, program);
  EXPECT_EQ(run.status, 0) << run.err;
  auto answers = run.answers();
  ASSERT_GE(answers.size(), 7u) << run.out;
  ASSERT_EQ(answers[5].size(), 1u) << run.out;
  EXPECT_EQ(answers[5][0].rfind("Found 3 ", 0), 0u) << answers[5][0];
  std::string listing;
  for (const std::string& line : answers[6]) listing += line + "\n";
  EXPECT_NE(listing.find("bread.txt"), std::string::npos) << listing;
}

}  // namespace
