// Referrals pass a search on to other indexes and bring their answers back: the
// container "referrals" below the index object, and the referral base class whose
// kinds (another kolvocmd process, a server over TCP) run the command text elsewhere.
// The search sends every referral its commands and merges what they answer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/commands/command_parent.h"

class QvReferral : public QvCommandObject {
 public:
  QvReferral(const std::string& name, QvCommandParent& parent, const std::string& className);

  // Starts the commands on the other side; the answer is collected while events run.
  virtual void run(const std::string& commandText);
  virtual bool isRunning();
  // The whole answer so far.
  virtual std::string getOutput();
  // Ends the run, if it still goes on, and forgets its answer.
  virtual void doneWithOutput() {}
  // Lets the referral look for output without waiting.
  virtual void Poll() {}

  std::string getValue(const std::string& name) override;
  void setValue(const std::string& name, const std::string& value) override;
  void xmlBody(QvResults& lines) override;

  std::string mIndexName;
  int32_t mMaxResultsReturned = 10000;
  int32_t mMax100msLoops = 50;
  bool mEnabled = true;

  static constexpr QvMessage qvAbstractCall{"QvReferral.qvAbstractCall",
                                            "Illegal call of abstract base class QvReferral"};
  static constexpr QvMessage qvIndexNameRefused{
      "QvReferral.qvIndexNameRefused",
      "A referral's index name may not hold a blank, a quote, a semicolon, a line end, \"/\" or \"..\": %1%"};
};

class QvReferrals : public QvCommandParent {
 public:
  QvReferrals(const std::string& name, QvCommandParent& parent);

  void performCommand(const std::string& command, const std::string& arguments, QvResults& results) override;
  // "QvLocalReferral" and "QvNetReferral" make referrals; other classes as any parent.
  std::shared_ptr<QvCommandObject> createChild(const std::string& className, const std::string& name) override;
  // The referrals, in the order of their names.
  std::vector<std::shared_ptr<QvReferral>> referrals() const;
  void clear();

  static constexpr QvMessage qvrReferralsCleared{"QvReferrals.qvrReferralsCleared", "referrals cleared"};
  static constexpr QvMessage qvrAllEnabled{"QvReferrals.qvrAllEnabled", "all referrals Enabled"};
};
