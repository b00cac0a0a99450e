// A referral answered by a second copy of this program on the same machine: the child
// reads the commands on its standard input, runs them against the referral's index and
// ends at "quit". The search uses it through QvReferral like any other referral.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/platform/child_process.h"
#include "app/referrals/referrals.h"

// The child process of one run and what it has printed so far.
class QvReferralShell {
 public:
  explicit QvReferralShell(int32_t maxLoops = 10) : mMaxLoops(maxLoops) {}

  // Starts commandLine through the shell; raises std::system_error when it cannot.
  void start(const std::string& commandLine) { mProcess.start(commandLine); }
  void write(const std::string& text) { mProcess.write(text); }
  // Moves what the child printed into mCommandResult.
  void poll();
  // True while the child runs; once it has ended, the rest of its output is collected.
  bool running();

  int32_t mMaxLoops;
  std::string mCommandResult;

 private:
  QvChildProcess mProcess;
};

class QvLocalReferral : public QvReferral {
 public:
  QvLocalReferral(const std::string& name, QvCommandParent& parent, const std::string& className);

  void run(const std::string& commandText) override;
  bool isRunning() override;
  // The child's answers without the prompts its console printed before each line.
  std::string getOutput() override;
  void doneWithOutput() override;
  void Poll() override;
  void cleanup() override;

  std::unique_ptr<QvReferralShell> mShell;

  // The shell command line of the children: this program itself unless one is set
  // (tests set another, since their program is no kolvocmd).
  static void useProgram(const std::string& commandLine);

  static constexpr QvMessage qvTooDeep{"QvLocalReferral.qvTooDeep",
                                       "Referral %1% is not asked: referrals already run %2% levels deep"};
  static constexpr QvMessage qvReadError{"QvLocalReferral.qvReadError", "Read Error in Local Referral"};

 private:
  // The lines written to the child, each of which it answers after a prompt.
  std::size_t mLinesSent = 0;
};

// The running program itself (its /proc/self/exe), quoted for the shell.
std::string qvSelfCommandLine();
// text quoted for the shell as one word.
std::string qvShellQuoted(const std::string& text);
