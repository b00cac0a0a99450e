// Searches over several indexes answered four ways (all in one index, through local
// referrals, through network referrals to a kolvoserve started here, and both at once)
// must list the same files; and kolvoserve refuses every login and command it should,
// drops hostile clients, and leaves no descriptor or child behind.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>

#include "app/index/kolvo_lib.h"
#include "tests/cli/kolvocmd_runner.h"
#include "tests/cli/serve_fixture.h"

namespace fs = std::filesystem;
using kolvotest::KolvocmdRun;
using kolvotest::KolvocmdRunner;
using kolvotest::ServeClient;
using kolvotest::ServeProcess;
using Lines = std::vector<std::string>;

namespace {

const char* const kPassword = "horse:battery;staple";

// The searches every way answers: a word, a phrase, a criterion and a wildcard.
const std::vector<std::string> kSearches = {
    "find brown",
    "find \"quick brown\"",
    "/criteria setvalue fileName *.md\nfind brown\nlistresults\n/criteria clear",
    "find bro*",
    "find lazy;;system touch MARKER",
};

class ReferralsCliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    QvKolvoLib::loadLibrary(KOLVO_LIBRARY_PATH);
    runner = std::make_unique<KolvocmdRunner>();
    const auto& folder = runner->folder();
    folder.write("docs/a/fox.txt", "The quick brown fox jumps over the lazy dog.\n");
    folder.write("docs/a/notes.md", "brown paper bag\n");
    folder.write("docs/b/dog.txt", "A lazy brown dog; quick and brown.\n");
    folder.write("docs/b/sub/readme.md", "quick brown fox again\n");
    folder.write("docs/c/cat.txt", "brown cat naps, lazy\n");
    folder.write("docs/c/deep/q.txt", "very quick brown\nbroken things\n");
    std::string build;
    auto index = [&](const std::string& name, const std::vector<std::string>& roots) {
      build += "new " + name + "\n";
      for (const std::string& root : roots) build += "addroot " + runner->documents() + "/" + root + "\n";
      build += "addinclude *.txt\naddinclude *.md\nbuild\n";
    };
    index("i1", {"a"});
    index("i2", {"b"});
    index("i3", {"c"});
    index("all", {"a", "b", "c"});
    index("loopa", {"a"});
    index("loopb", {"b"});
    KolvocmdRun run = runner->run(build);
    ASSERT_EQ(run.status, 0) << run.err;
    run = runner->run(std::string(kPassword) + "\n", {"--set-password", "ann", "i2", "i3", "ghost"}, KOLVOSERVE_PATH);
    ASSERT_EQ(run.status, 0) << run.err;
    run = runner->run("other\n", {"--set-password", "bob", "i1"}, KOLVOSERVE_PATH);
    ASSERT_EQ(run.status, 0) << run.err;
  }
  static void TearDownTestSuite() { runner.reset(); }

  std::string folder() const { return runner->folder().path().string(); }
  std::string marker() const { return folder() + "/MARKER"; }
  std::unique_ptr<ServeProcess> startServer(const std::vector<std::string>& arguments = {}) {
    auto server = std::make_unique<ServeProcess>(folder(), runner->kolvoDirectory(), arguments);
    EXPECT_NE(server->port(), 0) << server->log();
    return server;
  }

  // Commands that create a referral named name to index in the open index.
  // Referrals of the tests wait up to a minute, so that a slow (sanitized, busy) machine
  // still sees them finish.
  static std::string localReferral(const std::string& name, const std::string& index) {
    return "/referrals create QvLocalReferral " + name + "\n/referrals." + name + " setvalue indexName " + index +
           "\n/referrals." + name + " setvalue max100msLoops 600\n";
  }
  static std::string netReferral(const std::string& name, const std::string& index, int port,
                                 const std::string& password = kPassword) {
    std::string path = "/referrals." + name;
    std::string doubled;
    for (char c : password) doubled += c == ';' ? std::string(";;") : std::string(1, c);
    return "/referrals create QvNetReferral " + name + "\n" + path + " setvalue indexName " + index + "\n" + path +
           " setvalue serverIP 127.0.0.1\n" + path + " setvalue port " + std::to_string(port) + "\n" + path +
           " setvalue userName ann\n" + path + " setvalue password " + doubled + "\n" + path +
           " setvalue max100msLoops 600\n";
  }

  // For each search, its listing without the keys (which name the referral), sorted.
  static std::vector<Lines> listings(const std::string& setup) {
    std::string input = setup;
    for (const std::string& search : kSearches) input += search + "\nlistresults\n";
    KolvocmdRun run = runner->run(input);
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<Lines> found;
    Lines* current = nullptr;
    for (const std::string& line : kolvotest::lines(run.out)) {
      if (line == "<RESULTS>") {
        found.emplace_back();
        current = &found.back();
      } else if (line == "</RESULTS>") {
        std::sort(current->begin(), current->end());
        current = nullptr;
      } else if (current) {
        current->push_back(line.substr(0, line.rfind('\t')));
      }
    }
    // The criteria search lists once more inside its own commands.
    EXPECT_EQ(found.size(), kSearches.size() + 1) << run.out;
    return found;
  }

  static std::unique_ptr<KolvocmdRunner> runner;
};

std::unique_ptr<KolvocmdRunner> ReferralsCliTest::runner;

TEST_F(ReferralsCliTest, ThreeIndexesListTheSameFilesLocallyThroughAChildThroughTheServerAndBoth) {
  auto server = startServer();
  std::vector<Lines> local = listings("open all\n");
  ASSERT_FALSE(local.empty());
  EXPECT_EQ(local[0].size(), 6u);  // every file holds "brown"
  EXPECT_EQ(local[2].size(), 2u);  // the two .md files
  std::vector<Lines> child = listings("open i1\n/referrals clear\n" + localReferral("b", "i2") + localReferral("c", "i3"));
  std::vector<Lines> network = listings("open i1\n/referrals clear\n" + netReferral("b", "i2", server->port()) +
                                        netReferral("c", "i3", server->port()));
  std::vector<Lines> both = listings("open i1\n/referrals clear\n" + localReferral("b", "i2") +
                                     netReferral("c", "i3", server->port()));
  EXPECT_EQ(child, local);
  EXPECT_EQ(network, local);
  EXPECT_EQ(both, local);
  // The phrase with a semicolon was searched as it stands, and ran nothing.
  EXPECT_FALSE(fs::exists(marker()));
  EXPECT_TRUE(server->waitForLog("user=ann index=i3 answered"));
}

TEST_F(ReferralsCliTest, IndexesThatReferToEachOtherStopAtTheDepthBound) {
  // Eight programs start one after another; each level waits long enough for those below.
  KolvocmdRun run = runner->run("open loopa\n" + localReferral("other", "loopb") + "save\nopen loopb\n" +
                                localReferral("other", "loopa") + "save\nopen loopa\nfind brown\nlistresults\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("referrals already run 8 levels deep"), std::string::npos) << run.out;
  // Both indexes' files, found again at every level down to the bound.
  EXPECT_NE(run.out.find("other|"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("other}other|"), std::string::npos) << run.out;
}

TEST_F(ReferralsCliTest, ARefusedLoginAddsNoResultsAndSaysSo) {
  auto server = startServer();
  KolvocmdRun run = runner->run("open i1\n/referrals clear\n" + netReferral("b", "i2", server->port(), "wrong") +
                                "find brown\nlistresults\n");
  EXPECT_NE(run.out.find("WARNING: The server of referral b refused the login: Login refused"), std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("b|"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Found 2 "), std::string::npos) << run.out;
}

TEST_F(ReferralsCliTest, FileContentsOfAReferralsResultIsAnsweredByIt) {
  auto server = startServer();
  KolvocmdRun run = runner->run("open i1\n/referrals clear\n" + localReferral("b", "i2") +
                                netReferral("c", "i3", server->port()) + "find naps\nlistresults\n");
  std::string key;
  for (const std::string& line : kolvotest::lines(run.out))
    if (line.rfind("cat.txt\t", 0) == 0) key = line.substr(line.rfind('\t') + 1);
  ASSERT_EQ(key.rfind("c|", 0), 0u) << run.out;
  run = runner->run("open i1\n/referrals clear\n" + netReferral("c", "i3", server->port()) +
                    "find naps\nfilecontents " + key + "\n");
  EXPECT_NE(run.out.find("{{SPLIT}}brown cat naps, lazy"), std::string::npos) << run.out;
}

TEST_F(ReferralsCliTest, LoginsAreRefusedForWrongPasswordsUnknownUsersAndOtherIndexes) {
  auto server = startServer();
  const std::vector<std::string> logins = {"i2:ann:wrong", "i2:nobody:" + std::string(kPassword),
                                           "i1:ann:" + std::string(kPassword), "i2:bob:other", "garbage", "",
                                           "i2:ann:" + std::string(kPassword) + "x"};
  for (const std::string& login : logins) {
    ServeClient client(server->port());
    ASSERT_TRUE(client.connected());
    Lines replies = client.exchange(login, "find brown\nlistresults");
    EXPECT_EQ(replies, Lines{"Login refused"}) << login;
  }
  ServeClient good(server->port());
  Lines replies = good.exchange("i2:ann:" + std::string(kPassword), "find brown\nlistresults");
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0], "OK");
  EXPECT_NE(replies[1].find("dog.txt\t"), std::string::npos) << replies[1];
  // A failed open ends the request: nothing runs on the index open before.
  ServeClient missing(server->port());
  replies = missing.exchange("i2:ann:" + std::string(kPassword), "open i3\nopen ghost\nfind brown\nlistresults");
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_NE(replies[1].find("Could not open an index at ghost"), std::string::npos) << replies[1];
  ServeClient ghost(server->port());
  replies = ghost.exchange("ghost:ann:" + std::string(kPassword), "find brown\nlistresults");
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[1], "Could not open an index at ghost\n");
  EXPECT_EQ(replies[1].find("<RESULTS>"), std::string::npos) << replies[1];
  EXPECT_TRUE(server->waitForLog("user=bob index=i2 login refused"));
  EXPECT_TRUE(server->waitForLog("user=ann index=i1 login refused"));
}

TEST_F(ReferralsCliTest, AKeptLoginNeverStandsForAWrongOrChangedPassword) {
  auto setPassword = [&](const std::string& password) {
    KolvocmdRun run = runner->run(password + "\n", {"--set-password", "dora", "i1"}, KOLVOSERVE_PATH);
    ASSERT_EQ(run.status, 0) << run.err;
    kolvotest::handToServeUser(folder());
  };
  setPassword("first");
  auto server = startServer();
  auto login = [&](const std::string& password) {
    ServeClient client(server->port());
    Lines replies = client.exchange("i1:dora:" + password, "find brown");
    return replies.empty() ? std::string() : replies[0];
  };
  // The second good login is answered from what the first left kept; a wrong one still
  // pays the check and the delay, whatever was kept.
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(login("first"), "OK");
    EXPECT_EQ(login("firsT"), "Login refused");
    EXPECT_EQ(login("first "), "Login refused");
  }
  // Changed in the users file, the old password is refused at the very next login.
  setPassword("second");
  EXPECT_EQ(login("first"), "Login refused");
  EXPECT_EQ(login("second"), "OK");
  EXPECT_EQ(login("second"), "OK");
  EXPECT_EQ(login("first"), "Login refused");
}

TEST_F(ReferralsCliTest, AnIndexRebuiltWhileTheServerRunsIsAnsweredFromItsNewBuild) {
  auto server = startServer();
  auto search = [&](const std::string& commands) {
    ServeClient client(server->port());
    Lines replies = client.exchange("i1:bob:other", commands);
    return replies.size() == 2 ? replies[1] : std::string();
  };
  EXPECT_NE(search("find brown").find("Found 2 "), std::string::npos);
  EXPECT_NE(search("open i1\nfind zebra").find("Found 0 "), std::string::npos);
  runner->folder().write("docs/a/zebra.txt", "a brown zebra\n");
  KolvocmdRun run = runner->run("open i1\nbuild\n");
  ASSERT_EQ(run.status, 0) << run.err;
  kolvotest::handToServeUser(folder());
  std::string answer = search("open i1\nfind zebra\nlistresults");
  EXPECT_EQ(answer.rfind("Opened index i1 from ", 0), 0u) << answer;
  EXPECT_NE(answer.find("Found 1 "), std::string::npos) << answer;
  EXPECT_NE(answer.find("zebra.txt\t"), std::string::npos) << answer;
  EXPECT_NE(search("find brown").find("Found 3 "), std::string::npos);
}

TEST_F(ReferralsCliTest, CommandsOtherThanAReferralsRunNothing) {
  auto server = startServer();
  runner->folder().write("commands.txt", "system touch " + marker() + "\n");
  const std::vector<std::string> requests = {
      "open i2\nfind brown\nsystem touch " + marker(),
      "find brown;system touch " + marker(),
      "find brown; system touch " + marker() + "\nlistresults",
      "read " + folder() + "/commands.txt",
      "open i2\ntee " + folder() + "/tee.txt",
      "recordto " + folder() + "/record.txt",
      "rbscript " + folder() + "/commands.txt",
      "build",
      "deleteIndex i2",
      "saveas stolen",
      "open i1\nfind brown",
      "/referrals create QvLocalReferral x",
      "find x__\nsystem touch " + marker(),
  };
  for (const std::string& request : requests) {
    ServeClient client(server->port());
    Lines replies = client.exchange("i2:ann:" + std::string(kPassword), request);
    ASSERT_EQ(replies.size(), 2u) << request;
    EXPECT_EQ(replies[1].rfind("ERROR This server runs only the commands of a referral", 0), 0u) << replies[1];
  }
  EXPECT_TRUE(server->waitForLog("commands refused"));
  EXPECT_FALSE(fs::exists(marker()));
  EXPECT_FALSE(fs::exists(folder() + "/tee.txt"));
  EXPECT_FALSE(fs::exists(folder() + "/record.txt"));
  EXPECT_TRUE(fs::exists(runner->kolvoDirectory() + "/indexes/i2"));
}

TEST_F(ReferralsCliTest, HostileFramesAndSilentClientsAreCutOff) {
  auto server = startServer({"--idle-limit", "1"});
  {
    ServeClient huge(server->port());
    huge.sendRaw("840000000" + std::string(4096, 'A'));
    EXPECT_TRUE(huge.closedWithoutAnswer());
  }
  {
    ServeClient half(server->port());
    std::string frame = qvFrameMessage("i2:ann:" + std::string(kPassword));
    half.sendRaw(frame.substr(0, frame.size() / 2));
    EXPECT_TRUE(half.closedWithoutAnswer());
  }
  {
    ServeClient silent(server->port());
    EXPECT_TRUE(silent.closedWithoutAnswer());
  }
  EXPECT_TRUE(server->waitForLog("broken frame"));
  EXPECT_TRUE(server->waitForLog("idle limit"));
}

TEST_F(ReferralsCliTest, AClientThatTricklesIsCutAtTheTimeLimit) {
  auto server = startServer({"--time-limit", "1", "--idle-limit", "5"});
  ServeClient client(server->port());
  client.sendRaw("71000000");
  // A byte every 200 ms keeps the idle limit away; the time limit ends it all the same.
  bool cut = false;
  for (int i = 0; i < 50 && !cut; ++i) {
    usleep(200000);
    client.sendRaw("A");
    cut = server->log().find("time limit") != std::string::npos;
  }
  EXPECT_TRUE(cut) << server->log();
  EXPECT_TRUE(client.closedWithoutAnswer());
}

TEST_F(ReferralsCliTest, ManyConnectionsLeaveNothingBehind) {
  // The test serves its clients one after another while the others wait connected, which
  // on a slow (sanitized, busy) machine outlasts the default idle and time limits.
  auto server = startServer({"--idle-limit", "600", "--time-limit", "600"});
  // Every connection ends in one line of the log. Once all are there and the children
  // are reaped, the server has closed its copy of each socket: a descriptor counted
  // before that is one the accept loop still holds, not one it lost.
  auto settled = [&](int connections) {
    auto logged = [&] {
      std::string log = server->log();
      int lines = 0;
      for (std::size_t at = 0; (at = log.find(" user=", at)) != std::string::npos; ++at) ++lines;
      return lines;
    };
    for (int step = 0; step < 200 && (logged() < connections || server->childCount() != 0); ++step)
      usleep(50000);
    EXPECT_EQ(logged(), connections);
    return server->childCount();
  };
  int descriptors = server->descriptorCount();
  ASSERT_GT(descriptors, 0);
  const std::string login = "i2:ann:" + std::string(kPassword);
  // One in ten runs a search; the others end early in the ways a client can: a broken
  // frame, or closing in the middle of one.
  for (int i = 0; i < 200; ++i) {
    ServeClient client(server->port());
    if (i % 10 == 0) {
      Lines replies = client.exchange(login, "find brown");
      ASSERT_EQ(replies.size(), 2u) << i;
      ASSERT_NE(replies[1].find("Found 2 "), std::string::npos) << replies[1];
    } else if (i % 2 == 0) {
      client.sendRaw("zz");
      ASSERT_TRUE(client.closedWithoutAnswer()) << i;
    } else {
      client.sendRaw("3100AAAA");
    }
  }
  EXPECT_EQ(settled(200), 0);
  EXPECT_EQ(server->descriptorCount(), descriptors);

  // Twenty at once against a bound of sixteen: the first sixteen are served, the rest
  // are told the server is busy and closed at once.
  std::vector<std::unique_ptr<ServeClient>> clients;
  for (int i = 0; i < 20; ++i) clients.push_back(std::make_unique<ServeClient>(server->port()));
  ASSERT_TRUE(server->waitForLog("refused: too many connections"));
  int served = 0, busy = 0;
  for (auto& client : clients) {
    Lines replies = client->exchange(login, "find brown\nlistresults");
    if (replies.size() == 2 && replies[1].find("dog.txt") != std::string::npos) ++served;
    if (replies == Lines{"ERROR The server is busy; try again later"}) ++busy;
  }
  EXPECT_EQ(served, 16);
  EXPECT_EQ(busy, 4);
  clients.clear();
  EXPECT_EQ(settled(220), 0);
  EXPECT_EQ(server->descriptorCount(), descriptors);
}

TEST_F(ReferralsCliTest, SetPasswordKeepsOneLinePerUserInAPrivateFile) {
  std::string users = runner->kolvoDirectory() + "/kolvoserve.users";
  KolvocmdRun run = runner->run("second\n", {"--set-password", "carl", "i1", "i3"}, KOLVOSERVE_PATH);
  ASSERT_EQ(run.status, 0) << run.err;
  run = runner->run("third\n", {"--set-password", "carl", "i3"}, KOLVOSERVE_PATH);
  ASSERT_EQ(run.status, 0) << run.err;
  struct stat status {};
  ASSERT_EQ(stat(users.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  int lines = 0;
  for (const std::string& line : kolvotest::lines(runner->folder().read("kolvo/kolvoserve.users"))) {
    if (line.rfind("carl:", 0) != 0) continue;
    ++lines;
    EXPECT_EQ(line.rfind("carl:$y$", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.rfind(':')), ":i3");
    EXPECT_EQ(line.find("third"), std::string::npos);
  }
  EXPECT_EQ(lines, 1);
  for (const char* bad : {"a:b", "a b", ""}) {
    run = runner->run("x\n", {"--set-password", bad, "i1"}, KOLVOSERVE_PATH);
    EXPECT_EQ(run.status, 1) << bad;
  }
}

TEST_F(ReferralsCliTest, TheServerRefusesToRunAsRoot) {
  if (geteuid() != 0) GTEST_SKIP() << "runs only as root";
  KolvocmdRun run = runner->run("", {"--listen", "127.0.0.1:0"}, KOLVOSERVE_PATH);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("refusing to run as root"), std::string::npos) << run.err;
}

}  // namespace

TEST_F(ReferralsCliTest, TheServerTellsItsUsageAndTheVersionsOfItselfAndItsEngine) {
  KolvocmdRun help = runner->run("", {"--help"}, KOLVOSERVE_PATH);
  EXPECT_EQ(help.status, 0);
  for (const char* option : {"--listen", "--max-connections", "--time-limit", "--idle-limit", "--set-password",
                             "--version"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  KolvocmdRun version = runner->run("", {"--version"}, KOLVOSERVE_PATH);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("kolvoserve ", 0), 0u) << version.out;
  EXPECT_NE(version.out.find("\nkolvolib "), std::string::npos) << version.out;
  EXPECT_EQ(runner->run("", {"--bogus"}, KOLVOSERVE_PATH).status, 2);
}
