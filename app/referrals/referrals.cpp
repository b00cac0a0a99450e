#include "app/referrals/referrals.h"

#include <cstdlib>

#include "app/commands/command_exception.h"
#include "app/commands/text_tools.h"
#include "app/referrals/local_referral.h"
#include "app/referrals/net_referral.h"
#include "app/referrals/referral_commands.h"

QvReferral::QvReferral(const std::string& name, QvCommandParent& parent, const std::string& className)
    : QvCommandObject(name, parent, className) {}

void QvReferral::run(const std::string&) { throw QvCommandException(qvAbstractCall); }

bool QvReferral::isRunning() { throw QvCommandException(qvAbstractCall); }

std::string QvReferral::getOutput() { throw QvCommandException(qvAbstractCall); }

std::string QvReferral::getValue(const std::string& name) {
  std::string key = qvLower(name);
  if (key == "indexname") return mIndexName;
  if (key == "maxresultsreturned") return std::to_string(mMaxResultsReturned);
  if (key == "max100msloops") return std::to_string(mMax100msLoops);
  if (key == "enabled") return mEnabled ? "true" : "false";
  return QvCommandObject::getValue(name);
}

void QvReferral::setValue(const std::string& name, const std::string& value) {
  std::string key = qvLower(name);
  auto number = [&value] { return static_cast<int32_t>(std::strtol(qvTrim(value).c_str(), nullptr, 10)); };
  if (key == "indexname") {
    // The name is sent as a term of a command line and must come back as it was.
    std::string indexName = qvTrim(value);
    if (!indexName.empty() && !qvIsSendableIndexName(indexName))
      throw QvCommandException(qvIndexNameRefused, std::vector<std::string>{value});
    mIndexName = indexName;
  }
  else if (key == "maxresultsreturned") mMaxResultsReturned = number();
  else if (key == "max100msloops") mMax100msLoops = number();
  else if (key == "enabled") mEnabled = qvEqualsCaseless(qvTrim(value), "true");
  else QvCommandObject::setValue(name, value);
}

void QvReferral::xmlBody(QvResults& lines) {
  QvCommandObject::xmlBody(lines);
  for (const char* property : {"indexName", "maxResultsReturned", "max100msLoops", "enabled"})
    lines.push_back(xmlPropertyRepresentation(property));
}

QvReferrals::QvReferrals(const std::string& name, QvCommandParent& parent)
    : QvCommandParent(name, parent, "QvReferrals") {}

void QvReferrals::performCommand(const std::string& command, const std::string& arguments, QvResults& results) {
  if (qvEqualsCaseless(command, "clear")) {
    clear();
    results.push_back(qvrReferralsCleared.text());
  } else if (qvEqualsCaseless(command, "enableAll")) {
    for (const auto& referral : referrals()) referral->mEnabled = true;
    results.push_back(qvrAllEnabled.text());
  } else {
    QvCommandParent::performCommand(command, arguments, results);
  }
}

std::shared_ptr<QvCommandObject> QvReferrals::createChild(const std::string& className, const std::string& name) {
  if (name.empty()) return nullptr;
  if (qvEqualsCaseless(className, "QvLocalReferral"))
    return qvCreateChild<QvLocalReferral>(*this, name, std::string("QvLocalReferral"));
  if (qvEqualsCaseless(className, "QvNetReferral"))
    return qvCreateChild<QvNetReferral>(*this, name, std::string("QvNetReferral"));
  return QvCommandParent::createChild(className, name);
}

std::vector<std::shared_ptr<QvReferral>> QvReferrals::referrals() const {
  std::vector<std::shared_ptr<QvReferral>> found;
  for (const auto& entry : mChildren)
    if (auto referral = std::dynamic_pointer_cast<QvReferral>(entry.second)) found.push_back(referral);
  return found;
}

void QvReferrals::clear() {
  for (auto& entry : mChildren) entry.second->cleanup();
  mChildren.clear();
}
