// The referral objects inside an index: their properties and XML, a network referral
// against a small server served by the same event pump (logins refused, broken and
// hostile frames, two frames at once), names that do not resolve, and local referrals
// whose child answers or never ends.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "app/commands/command_exception.h"
#include "app/commands/command_interface.h"
#include "app/index/kolvo_index.h"
#include "app/platform/event_pump.h"
#include "app/referrals/local_referral.h"
#include "app/referrals/net_referral.h"
#include "app/referrals/referral_frame.h"
#include "app/referrals/referrals.h"
#include "tests/support/index_fixture.h"

namespace {

// Collects what the program prints on standard output while it lives.
class CapturedOutput {
 public:
  CapturedOutput() : old(std::cout.rdbuf(text.rdbuf())) {}
  ~CapturedOutput() { std::cout.rdbuf(old); }
  std::string str() const { return text.str(); }

 private:
  std::ostringstream text;
  std::streambuf* old;
};

// A server on a free loopback port, served by the event pump: it reads the login and
// the commands as frames and answers each with the bytes the test chose.
class PumpedServer {
 public:
  PumpedServer() {
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    EXPECT_EQ(listen(listener, 4), 0);
    acceptWatch = QvEventPump::instance().watch(listener, POLLIN, [this](short) { acceptOne(); });
  }
  ~PumpedServer() {
    auto& pump = QvEventPump::instance();
    pump.unwatch(acceptWatch);
    if (clientWatch) pump.unwatch(clientWatch);
    if (client >= 0) close(client);
    close(listener);
  }

  int port = 0;
  // Sent after the login frame arrives, and after the commands frame.
  std::string onLogin, onCommands;
  // Ends the connection after answering the login.
  bool closeAfterLogin = false;
  std::vector<std::string> received;

 private:
  void acceptOne() {
    client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) return;
    clientWatch = QvEventPump::instance().watch(client, POLLIN, [this](short) { readSome(); });
  }
  void readSome() {
    char chunk[4096];
    ssize_t got = recv(client, chunk, sizeof chunk, 0);
    if (got <= 0) {
      QvEventPump::instance().unwatch(clientWatch);
      clientWatch = 0;
      close(client);
      client = -1;
      return;
    }
    reader.append(chunk, static_cast<std::size_t>(got));
    std::string message;
    while (reader.next(message) == QvFrameReader::Result::message) {
      received.push_back(message);
      const std::string& answer = received.size() == 1 ? onLogin : onCommands;
      if (!answer.empty()) {
        EXPECT_EQ(send(client, answer.data(), answer.size(), MSG_NOSIGNAL), ssize_t(answer.size()));
      }
      if (received.size() == 2 || (received.size() == 1 && closeAfterLogin)) {
        shutdown(client, SHUT_WR);
      }
    }
  }

  int listener = -1, client = -1;
  int acceptWatch = 0, clientWatch = 0;
  QvFrameReader reader;
};

class ReferralObjectsTest : public kolvotest::IndexFixture {
 protected:
  void TearDown() override {
    QvLocalReferral::useProgram("");
    IndexFixture::TearDown();
  }
  std::vector<std::string> run(const std::string& text) {
    QvResults results;
    commands.processCommandString(text, results);
    return results.lines();
  }
  // An index of one small folder, so that "find" has something to search.
  void buildSmallIndex() {
    temp.write("docs/fox.txt", "quick brown fox\n");
    buildDocs();
  }
  // Lets the pumped server take what is still on its way.
  static void letEventsRun() {
    for (int step = 0; step < 5; ++step) QvEventPump::instance().pump(20);
  }
  std::shared_ptr<QvNetReferral> netReferral(const std::string& name) {
    run("/referrals create QvNetReferral " + name);
    return std::dynamic_pointer_cast<QvNetReferral>(index->referrals().childNamed(name));
  }
};

TEST_F(ReferralObjectsTest, PasswordIsWriteOnlyAndSavedEnciphered) {
  auto referral = netReferral("home");
  ASSERT_TRUE(referral);
  run("/referrals.home setvalue password s3cret;;x\n/referrals.home setvalue serverIP 127.0.0.1\n"
      "/referrals.home setvalue userName ann\n/referrals.home setvalue port 5000");
  EXPECT_EQ(referral->mPassword, "s3cret;x");
  EXPECT_EQ(run("/referrals.home getvalue password"), std::vector<std::string>{""});
  std::string enciphered = run("/referrals.home getvalue encryptedpw").at(0);
  EXPECT_EQ(enciphered, qvEncipherToBase64("s3cret;x"));
  EXPECT_EQ(qvDecipherFromBase64(enciphered), "s3cret;x");
  // The XML holds the enciphered form only, and reading it back gives the password.
  std::vector<std::string> xml = run("/referrals.home xml");
  std::string joined;
  for (const auto& line : xml) joined += line + "\n";
  EXPECT_EQ(joined.find("s3cret"), std::string::npos);
  EXPECT_NE(joined.find("<encryptedpw>"), std::string::npos);
  EXPECT_NE(joined.find("<port>5000</port>"), std::string::npos);
  auto copy = netReferral("copy");
  run("/referrals.copy setvalue encryptedpw " + enciphered);
  EXPECT_EQ(copy->mPassword, "s3cret;x");
  EXPECT_EQ(run("/referrals.home getvalue port"), std::vector<std::string>{"5000"});
}

TEST_F(ReferralObjectsTest, IndexNamesThatWouldSplitACommandAreRefused) {
  run("/referrals create QvLocalReferral near");
  for (const char* bad : {"a b", "a;;b", "\"a\"", "it's"})
    EXPECT_THROW(run(std::string("/referrals.near setvalue indexName ") + bad), QvCommandException) << bad;
  run("/referrals.near setvalue indexName docs-2");
  EXPECT_EQ(run("/referrals.near getvalue indexName"), std::vector<std::string>{"docs-2"});
}

TEST_F(ReferralObjectsTest, NoAddressOrAnUnknownDomainWarnsAndDoesNotRun) {
  auto referral = netReferral("far");
  {
    CapturedOutput output;
    referral->run("find x");
    EXPECT_FALSE(referral->isRunning());
    EXPECT_NE(output.str().find("WARNING: Cannot find IP address for "), std::string::npos) << output.str();
  }
  run("/referrals.far setvalue serverDomain no-such-host.invalid");
  CapturedOutput output;
  referral->run("find x");
  EXPECT_FALSE(referral->isRunning());
  EXPECT_NE(output.str().find("Cannot find IP address for no-such-host.invalid"), std::string::npos) << output.str();
}

TEST_F(ReferralObjectsTest, NetworkReferralLogsInSendsAndTakesTheAnswer) {
  PumpedServer server;
  // The OK and the answer arrive in one piece: they are still two messages.
  server.onLogin = qvFrameMessage("ok") + qvFrameMessage("<RESULTS>\nx\t/d/\t0\t1\t2\t7\n</RESULTS>");
  auto referral = netReferral("home");
  run("/referrals.home setvalue serverIP 127.0.0.1\n/referrals.home setvalue userName ann\n"
      "/referrals.home setvalue password pw:1\n/referrals.home setvalue indexName docs\n"
      "/referrals.home setvalue port " + std::to_string(server.port));
  referral->run("find fox");
  index->awaitReferralResults();
  EXPECT_FALSE(referral->isRunning());
  letEventsRun();
  ASSERT_EQ(server.received.size(), 2u);
  EXPECT_EQ(server.received[0], "docs:ann:pw:1");
  EXPECT_EQ(server.received[1], "find fox");
  EXPECT_EQ(referral->getOutput(), "<RESULTS>\nx\t/d/\t0\t1\t2\t7\n</RESULTS>");
  referral->doneWithOutput();
  EXPECT_EQ(referral->getOutput(), "");
}

TEST_F(ReferralObjectsTest, ARefusedLoginIsAWarningAndNoResults) {
  PumpedServer server;
  server.onLogin = qvFrameMessage("<RESULTS>\nforged\t/x/\t0\t1\t2\t9\n</RESULTS>");
  server.closeAfterLogin = true;
  buildSmallIndex();
  auto referral = netReferral("home");
  run("/referrals.home setvalue serverIP 127.0.0.1\n/referrals.home setvalue indexName docs\n"
      "/referrals.home setvalue port " + std::to_string(server.port));
  CapturedOutput output;
  std::vector<std::string> found = run("find anything");
  EXPECT_EQ(server.received.size(), 1u);
  EXPECT_EQ(found.back().rfind("Found 0 ", 0), 0u) << found.back();
  EXPECT_NE(output.str().find("WARNING: The server of referral home refused the login: <RESULTS>"), std::string::npos)
      << output.str();
}

TEST_F(ReferralObjectsTest, BrokenOrHostileFramesDropTheConnectionWithAWarning) {
  for (const std::string& answer : {std::string("840000000AAAA"), std::string("2zz"), std::string("14@@@@")}) {
    PumpedServer server;
    server.onLogin = answer;
    server.closeAfterLogin = true;
    auto referral = netReferral("home");
    run("/referrals.home setvalue serverIP ::ffff:127.0.0.1\n/referrals.home setvalue indexName docs\n"
        "/referrals.home setvalue port " + std::to_string(server.port));
    CapturedOutput output;
    referral->run("find x");
    index->awaitReferralResults();
    EXPECT_FALSE(referral->isRunning()) << answer;
    EXPECT_NE(output.str().find("WARNING: Unexpected disconnect error 105 home"), std::string::npos) << output.str();
    EXPECT_EQ(referral->getOutput(), "");
  }
}

TEST_F(ReferralObjectsTest, ARefusedConnectionIsReported) {
  int port;
  {
    PumpedServer closed;
    port = closed.port;
  }
  auto referral = netReferral("home");
  run("/referrals.home setvalue serverIP 127.0.0.1\n/referrals.home setvalue port " + std::to_string(port));
  CapturedOutput output;
  referral->run("find x");
  index->awaitReferralResults();
  EXPECT_FALSE(referral->isRunning());
  EXPECT_NE(output.str().find("WARNING: Unexpected disconnect error 103 home"), std::string::npos) << output.str();
}

TEST_F(ReferralObjectsTest, AChildThatNeverEndsIsReportedAsNotFinishedAndEnded) {
  QvLocalReferral::useProgram("exec sleep 30");
  buildSmallIndex();
  run("/referrals create QvLocalReferral slow\n/referrals.slow setvalue max100msLoops 3\n"
      "/referrals.slow setvalue indexName docs");
  auto referral = std::dynamic_pointer_cast<QvLocalReferral>(index->referrals().childNamed("slow"));
  ASSERT_TRUE(referral);
  CapturedOutput output;
  run("find fox");
  EXPECT_NE(output.str().find("WARNING: Request did not complete for referral: slow"), std::string::npos)
      << output.str();
  EXPECT_FALSE(referral->mShell);
  EXPECT_FALSE(referral->isRunning());
}

TEST_F(ReferralObjectsTest, LocalReferralsNestOnlySoDeep) {
  // The children count their depth: each sees one more than its parent.
  QvLocalReferral::useProgram("printf 'depth %s\\n' \"$KOLVO_REFERRAL_DEPTH\"; cat >/dev/null");
  run("/referrals create QvLocalReferral down");
  auto referral = std::dynamic_pointer_cast<QvLocalReferral>(index->referrals().childNamed("down"));
  setenv("KOLVO_REFERRAL_DEPTH", "3", 1);
  referral->run("find x");
  index->awaitReferralResults();
  EXPECT_EQ(referral->getOutput(), "depth 4\n");
  referral->doneWithOutput();
  // At the bound nothing starts, and the user is told why.
  setenv("KOLVO_REFERRAL_DEPTH", "8", 1);
  {
    CapturedOutput output;
    referral->run("find x");
    EXPECT_FALSE(referral->isRunning());
    EXPECT_NE(output.str().find("WARNING: Referral down is not asked: referrals already run 8 levels deep"),
              std::string::npos)
        << output.str();
  }
  unsetenv("KOLVO_REFERRAL_DEPTH");
}

TEST_F(ReferralObjectsTest, AChildsPromptsAreNotPartOfItsAnswer) {
  // A stand-in console: a prompt before each line it reads, then the line itself.
  QvLocalReferral::useProgram("while printf '> '; IFS= read -r line; do echo; [ \"$line\" = quit ] && break; "
                              "printf '%s\\n' \"$line\"; done");
  run("/referrals create QvLocalReferral echo");
  auto referral = std::dynamic_pointer_cast<QvLocalReferral>(index->referrals().childNamed("echo"));
  // Only the last answer may hold a line like a prompt (a file's text does).
  referral->run("one\ntwo\n> ");
  index->awaitReferralResults();
  EXPECT_FALSE(referral->isRunning());
  EXPECT_EQ(referral->getOutput(), "one\ntwo\n> \n");
}

}  // namespace
