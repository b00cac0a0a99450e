#include "app/referrals/referral_commands.h"

#include <array>

#include "app/commands/command_exception.h"
#include "app/commands/command_interface.h"
#include "app/commands/text_tools.h"
#include "app/referrals/referrals.h"
#include "app/search/search_criteria.h"

namespace {

constexpr QvMessage qvrcLineEndInValue{"QvReferral.qvrcLineEndInValue",
                                       "A referral cannot send a value holding a line end: %1%"};

// The criteria a request may set; each is harmless to set to anything.
constexpr std::array<const char*, 15> kCriteriaProperties{
    "fileName",   "fileNameRegex", "folderName", "folderNameRegex", "includeParent",
    "maxBufferSize", "maxResults", "maxSize",    "minSize",         "nearCount",
    "onOrAfter",  "onOrAfterSeconds", "onOrBefore", "onOrBeforeSeconds", "tokenRegex"};

bool isCriteriaProperty(const std::string& name) {
  for (const char* property : kCriteriaProperties)
    if (qvEqualsCaseless(name, property)) return true;
  return false;
}

// The search's own words, sent to the index object that is the default.
bool isSearchWord(const std::string& word) {
  for (const char* allowed : {"find", "listresults", "filecontents", "setsearchphrase"})
    if (qvEqualsCaseless(word, allowed)) return true;
  return false;
}

// Whether one command line, read as the interpreter reads it, is one a referral sends.
bool isReferralCommand(const std::string& line, const std::function<bool(const std::string&)>& mayOpen) {
  // Comments and empty lines run nothing.
  if (qvStartsWith(qvTrimLeft(line), "#")) return true;
  auto [term, rest] = QvCommandInterface::getNextTerm(line);
  if (term.empty()) return true;
  if (qvEqualsCaseless(term, "open")) return mayOpen(qvUnquoted(qvTrim(rest)));
  if (isSearchWord(term)) return true;
  if (qvEqualsCaseless(term, "setvalue")) {
    // setvalue takes its name up to the first blank, quotes and all.
    return qvEqualsCaseless(rest.substr(0, rest.find(' ')), "outline");
  }
  if (qvEqualsCaseless(term, "/criteria")) {
    auto [word, arguments] = QvCommandInterface::getNextTerm(rest);
    if (qvEqualsCaseless(word, "clear")) return arguments.empty();
    if (!qvEqualsCaseless(word, "setvalue")) return false;
    // setvalue takes its name up to the first blank, quotes and all.
    std::string name = arguments.substr(0, arguments.find(' '));
    return isCriteriaProperty(name);
  }
  return false;
}

}  // namespace

std::string qvReferralValue(const std::string& value) {
  if (value.find_first_of("\r\n") != std::string::npos) throw QvCommandException(qvrcLineEndInValue, std::vector<std::string>{value});
  std::string written;
  for (char c : value) {
    written += c;
    if (c == ';') written += ';';
  }
  if (qvEndsWith(written, "_")) written += '_';
  return written;
}

bool qvIsSendableIndexName(const std::string& name) {
  // Also a name the index object takes: no folder of its own nor a way out of "indexes".
  return !name.empty() && name.find_first_of(" \t\r\n;\"'/") == std::string::npos && name.find("..") == std::string::npos;
}

std::string qvReferralFindCommands(const QvReferral& referral, QvSearchCriteria& criteria,
                                   const std::string& phrase) {
  std::string commands = "open " + qvReferralValue(referral.mIndexName) + "\n/criteria clear\n";
  auto set = [&commands](const std::string& property, const std::string& value, const char* word = "setvalue") {
    commands += std::string("/criteria ") + word + " " + property + " " + qvReferralValue(value) + "\n";
  };
  if (criteria.mFileName != "*") set("fileName", criteria.mFileName);
  if (criteria.mFolderName != "*") set("folderName", criteria.mFolderName);
  if (criteria.mFileNameRegEx) set("fileNameRegEx", "true");
  if (criteria.mFolderNameRegex) set("folderNameRegEx", "true");
  if (criteria.mMaxSize != 0) set("maxSize", std::to_string(criteria.mMaxSize));
  if (criteria.mMinSize != 0) set("minSize", std::to_string(criteria.mMinSize));
  if (criteria.mOnOrAfter != 0) set("onOrAfterSeconds", criteria.getValue("onOrAfterSeconds"));
  if (criteria.mOnOrBefore != 0)
    set("onOrBeforeSeconds", criteria.getValue("onOrBeforeSeconds"));
  set("maxBufferSize", std::to_string(criteria.mMaxBufferSize), "setValue");
  set("maxResults", std::to_string(criteria.mMaxResults), "setValue");
  set("nearCount", std::to_string(criteria.mNearCount), "setValue");
  if (criteria.mTokenRegEx) set("tokenRegEx", "true");
  commands += "find " + qvReferralValue(phrase) + "\nlistresults " + std::to_string(referral.mMaxResultsReturned);
  return commands;
}

std::string qvReferralContentsCommands(const QvReferral& referral, bool outline, QvSearchCriteria& criteria,
                                       const std::string& lastPhrase, const std::string& key) {
  std::string commands = "open " + qvReferralValue(referral.mIndexName) + "\nsetvalue outline " +
                         (outline ? "True" : "False") + "\n/criteria clear\n";
  if (criteria.mTokenRegEx) commands += "/criteria setvalue tokenRegEx true\n";
  commands += "setsearchphrase " + qvReferralValue(lastPhrase) + "\nfilecontents " + qvReferralValue(key);
  return commands;
}

std::optional<std::string> qvRefusedReferralCommand(const std::string& text,
                                                    const std::function<bool(const std::string&)>& mayOpen) {
  for (const std::string& line : QvCommandInterface::splitCommandString(text))
    if (!isReferralCommand(line, mayOpen)) return line;
  return std::nullopt;
}
