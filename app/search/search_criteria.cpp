#include "app/search/search_criteria.h"

#include <cstdlib>
#include <sstream>
#include <vector>

#include "app/commands/command_exception.h"
#include "app/commands/text_tools.h"
#include "app/platform/date_text.h"

namespace {

struct Criterion {
  const char* name;
  const QvMessage& label;
};

// The order of "getinfo properties" and of the XML body.
const std::vector<Criterion>& criteria() {
  static const std::vector<Criterion> all = {
      {"fileName", QvSearchCriteria::qvscFileName},
      {"fileNameRegex", QvSearchCriteria::qvscFileNameRegex},
      {"folderName", QvSearchCriteria::qvscFolderName},
      {"folderNameRegex", QvSearchCriteria::qvscFolderNameRegex},
      {"includeParent", QvSearchCriteria::qvscIncludeParent},
      {"maxBufferSize", QvSearchCriteria::qvscMaxBufferSize},
      {"maxResults", QvSearchCriteria::qvscMaxResults},
      {"maxSize", QvSearchCriteria::qvscMaxSize},
      {"minSize", QvSearchCriteria::qvscMinSize},
      {"nearCount", QvSearchCriteria::qvscNearCount},
      {"onOrAfter", QvSearchCriteria::qvscOnOrAfter},
      {"onOrAfterSeconds", QvSearchCriteria::qvscOnOrAfterSeconds},
      {"onOrBefore", QvSearchCriteria::qvscOnOrBefore},
      {"onOrBeforeSeconds", QvSearchCriteria::qvscOnOrBeforeSeconds},
      {"tokenRegex", QvSearchCriteria::qvscTokenRegex},
  };
  return all;
}

int32_t toInt32(const std::string& text) {
  return static_cast<int32_t>(std::strtol(qvTrim(text).c_str(), nullptr, 10));
}

int64_t toInt64(const std::string& text) { return std::strtoll(qvTrim(text).c_str(), nullptr, 10); }

std::string seconds(double value) {
  std::ostringstream text;
  text.precision(17);
  text << value;
  return text.str();
}

std::string trueFalse(bool on) { return on ? "True" : "False"; }

bool isTrue(const std::string& value) { return qvEqualsCaseless(qvTrim(value), "true"); }

// A date criterion reads as one blank when it is not set.
std::string dateText(double time) { return time == 0 ? " " : qvShortDate(time); }

void setDate(double& field, const std::string& value) {
  std::string text = qvTrim(value);
  if (text.empty()) {
    field = 0;
  } else if (auto parsed = qvParseDate(text)) {
    field = *parsed;
  }
}

}  // namespace

QvSearchCriteria::QvSearchCriteria(const std::string& name, QvCommandParent& parent)
    : QvCommandObject(name, parent, "QvSearchCriteria") {}

void QvSearchCriteria::clear() {
  mMinSize = mMaxSize = 0;
  mOnOrBefore = mOnOrAfter = 0;
  mFileName = mFolderName = "*";
  mMaxResults = 1000;
  mMaxBufferSize = 10000000;
  mNearCount = 8;
  mFileNameRegEx.reset();
  mFolderNameRegex.reset();
  mTokenRegEx.reset();
  mIncludeParentIndex = true;
}

void QvSearchCriteria::performCommand(const std::string& command, const std::string& arguments,
                                      QvResults& results) {
  if (qvEqualsCaseless(command, "clear")) {
    clear();
    results.push_back(qvscCriteriaCleared.text());
  } else {
    QvCommandObject::performCommand(command, arguments, results);
  }
}

std::string QvSearchCriteria::getValue(const std::string& name) {
  std::string key = qvLower(name);
  if (key == "filename") return mFileName;
  if (key == "filenameregex") return trueFalse(mFileNameRegEx != nullptr);
  if (key == "foldername") return mFolderName;
  if (key == "foldernameregex") return trueFalse(mFolderNameRegex != nullptr);
  if (key == "includeparent") return trueFalse(mIncludeParentIndex);
  if (key == "maxbuffersize") return std::to_string(mMaxBufferSize);
  if (key == "maxresults") return std::to_string(mMaxResults);
  if (key == "maxsize") return std::to_string(mMaxSize);
  if (key == "minsize") return std::to_string(mMinSize);
  if (key == "nearcount") return std::to_string(mNearCount);
  if (key == "onorafter") return dateText(mOnOrAfter);
  if (key == "onorafterseconds") return seconds(mOnOrAfter);
  if (key == "onorbefore") return dateText(mOnOrBefore);
  if (key == "onorbeforeseconds") return seconds(mOnOrBefore);
  if (key == "tokenregex") return trueFalse(mTokenRegEx != nullptr);
  return QvCommandObject::getValue(name);
}

void QvSearchCriteria::setValue(const std::string& name, const std::string& value) {
  std::string key = qvLower(name);
  if (key == "filename") {
    mFileName = value;
    if (mFileNameRegEx) setRegex(mFileNameRegEx, "True", mFileName);
  } else if (key == "filenameregex") {
    setRegex(mFileNameRegEx, value, mFileName);
  } else if (key == "foldername") {
    mFolderName = value;
    if (mFolderNameRegex) setRegex(mFolderNameRegex, "True", mFolderName);
  } else if (key == "foldernameregex") {
    setRegex(mFolderNameRegex, value, mFolderName);
  } else if (key == "includeparent") {
    mIncludeParentIndex = isTrue(value);
  } else if (key == "maxbuffersize") {
    mMaxBufferSize = toInt32(value);
  } else if (key == "maxresults") {
    mMaxResults = toInt32(value);
  } else if (key == "maxsize") {
    mMaxSize = toInt64(value);
  } else if (key == "minsize") {
    mMinSize = toInt64(value);
  } else if (key == "nearcount") {
    mNearCount = toInt32(value);
  } else if (key == "onorafter") {
    setDate(mOnOrAfter, value);
  } else if (key == "onorafterseconds") {
    mOnOrAfter = std::strtod(qvTrim(value).c_str(), nullptr);
  } else if (key == "onorbefore") {
    setDate(mOnOrBefore, value);
  } else if (key == "onorbeforeseconds") {
    mOnOrBefore = std::strtod(qvTrim(value).c_str(), nullptr);
  } else if (key == "tokenregex") {
    // Only the switch matters: each search term becomes its own expression.
    setRegex(mTokenRegEx, value, "");
  } else {
    QvCommandObject::setValue(name, value);
  }
}

void QvSearchCriteria::setRegex(std::unique_ptr<QvRegex>& field, const std::string& value,
                                const std::string& pattern) {
  if (!isTrue(value)) {
    field.reset();
    return;
  }
  try {
    field = std::make_unique<QvRegex>(pattern);
  } catch (const QvRegexError& error) {
    throw QvCommandException(qvscBadRegex, std::vector<std::string>{error.what()});
  }
}

void QvSearchCriteria::xmlBody(QvResults& lines) {
  QvCommandObject::xmlBody(lines);
  for (const Criterion& criterion : criteria()) lines.push_back(xmlPropertyRepresentation(criterion.name));
}

std::string QvSearchCriteria::getInfo(const std::string& what) {
  std::vector<std::string> parts = qvSplit(what, '.');
  if (!qvEqualsCaseless(qvTrim(parts[0]), "properties")) return QvCommandObject::getInfo(what);
  std::string records = QvCommandObject::getInfo(what);
  for (const Criterion& criterion : criteria()) records += propertyInfo("S", criterion.name, criterion.label.text(), true);
  return records;
}

bool QvSearchCriteria::isSimpleMatch(std::string_view name, std::string_view pattern) {
  std::string text = qvLower(name);
  std::string wanted = qvLower(pattern);
  std::size_t star = wanted.find('*');
  if (star == std::string::npos) return text == wanted;
  std::vector<std::string> pieces = qvSplit(wanted, '*');
  const std::string& first = pieces.front();
  const std::string& last = pieces.back();
  if (first.size() + last.size() > text.size()) return false;
  if (!qvStartsWith(text, first) || !qvEndsWith(text, last)) return false;
  // The middle pieces in order, between the first piece and the last.
  std::size_t at = first.size();
  std::size_t limit = text.size() - last.size();
  for (std::size_t i = 1; i + 1 < pieces.size(); ++i) {
    if (pieces[i].empty()) continue;
    std::size_t found = text.find(pieces[i], at);
    if (found == std::string::npos || found + pieces[i].size() > limit) return false;
    at = found + pieces[i].size();
  }
  return true;
}

bool QvSearchCriteria::matches(const std::unique_ptr<QvRegex>& regex, std::string_view name,
                               const std::string& pattern) {
  if (regex) return regex->foundIn(name);
  return isSimpleMatch(name, pattern);
}

bool QvSearchCriteria::doesFileNameMatch(std::string_view name) const {
  return matches(mFileNameRegEx, name, mFileName);
}

bool QvSearchCriteria::doesFolderNameMatch(std::string_view name) const {
  return matches(mFolderNameRegex, name, mFolderName);
}

bool QvSearchCriteria::hasDefaultValues() const {
  return mMinSize == 0 && mMaxSize == 0 && mOnOrBefore == 0 && mOnOrAfter == 0 && mFileName == "*" &&
         mFolderName == "*" && !mFileNameRegEx && !mFolderNameRegex;
}

bool QvSearchCriteria::admits(std::string_view name, double size, double timeLastWritten,
                              const std::function<std::string()>& folderName) const {
  if (mMinSize != 0 && size < mMinSize) return false;
  if (mMaxSize != 0 && size > mMaxSize) return false;
  // A time equal to a bound passes: the bounds read "on or before" and "on or after".
  if (mOnOrBefore != 0 && timeLastWritten > mOnOrBefore) return false;
  if (mOnOrAfter != 0 && timeLastWritten < mOnOrAfter) return false;
  if ((mFileName != "*" || mFileNameRegEx) && !doesFileNameMatch(name)) return false;
  if ((mFolderName != "*" || mFolderNameRegex) && !doesFolderNameMatch(folderName ? folderName() : std::string()))
    return false;
  return true;
}
