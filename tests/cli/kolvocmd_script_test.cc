// Lua scripts run by the program itself: its standard libraries, and a binary module
// that finds the Lua interface in the program that loads it.
#include <gtest/gtest.h>

#include "tests/cli/kolvocmd_runner.h"

using kolvotest::KolvocmdRun;
using kolvotest::KolvocmdRunner;
using Lines = std::vector<std::string>;

namespace {

TEST(KolvocmdScript, StandardLibrariesAndABinaryModule) {
  KolvocmdRunner runner;
  runner.folder().write("probe.lua",
                        "print(string.format('%d|%s|%.1f', math.floor(7.5), table.concat({'a', 'b'}, ','), math.sqrt(2.25)))\n"
                        "local open = assert(package.loadlib('" LUA_PROBE_MODULE "', 'luaopen_kolvoprobe'))\n"
                        "print(open()(21))\n");
  KolvocmdRun run = runner.run("rbscript " + (runner.folder().path() / "probe.lua").string() + "\n");
  EXPECT_EQ(run.status, 0) << run.err;
  auto answers = run.answers();
  ASSERT_GE(answers.size(), 2u) << run.out;
  EXPECT_EQ(answers[1], (Lines{"7|a,b|1.5", "42"})) << run.out;
}

}  // namespace
