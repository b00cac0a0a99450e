// The query side of the index object: the phrase language evaluated against the
// engine's tables, the contents check of phrases and near words, the merging of the
// referrals' answers, the listing of results and the text of a found file.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "app/commands/command_exception.h"
#include "app/commands/text_tools.h"
#include "app/index/kolvo_index.h"
#include "app/index/kolvo_lib.h"
#include "app/platform/event_pump.h"
#include "app/platform/halt_request.h"
#include "app/platform/heap_pages.h"
#include "app/platform/regex.h"
#include "app/referrals/referral_commands.h"
#include "app/referrals/referral_limits.h"
#include "app/referrals/referrals.h"
#include "app/search/result_json.h"
#include "app/search/result_listing.h"
#include "app/search/search_criteria.h"
#include "app/search/word_files.h"

namespace {

using Arguments = std::vector<std::string>;

// The table handles are asked for per file found; these entries are looked up once.
const QvEngineEntry<decltype(&::kidxGetFiles)> kGetFiles("kidxGetFiles");
const QvEngineEntry<decltype(&::kidxGetWords)> kGetWords("kidxGetWords");
const QvEngineEntry<decltype(&::kidxGetLinks)> kGetLinks("kidxGetLinks");

// Table walks look for a halt request this often.
constexpr int kHaltCheckInterval = 200;

void checkHalt() {
  if (qvHaltRequested()) throw QvCommandException(QvKolvoIndex::qvkiHaltRequested);
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool isOperator(char c) { return std::strchr("&|^<>:()", c) != nullptr && c != '\0'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// A phrase as the search reads it: trimmed, lower-cased, in Windows Latin-1.
std::string normalisedPhrase(const std::string& phrase) { return qvLower(qvTrim(qvToLatin1(phrase))); }

bool hasContentsCondition(std::string_view phrase) { return phrase.find_first_of("<:>\"") != std::string_view::npos; }

// The position of the parenthesis that closes the one at 0, or npos.
std::size_t closingParenthesis(std::string_view text) {
  int open = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '(') ++open;
    else if (text[i] == ')' && --open == 0) return i;
  }
  return std::string_view::npos;
}

// A contents object freed by the engine whatever way its user leaves.
struct ContentsRelease {
  void operator()(CFileContents* contents) const {
    static const auto deleteContents = klib(kfcDeleteContentsObject);
    deleteContents(contents);
  }
};
using ContentsHolder = std::unique_ptr<CFileContents, ContentsRelease>;

// The files of a link walk with their ranks, in the order met.
struct FilesMet {
  std::vector<kulong> files;
  std::vector<int32_t> ranks;
  void operator()(kulong file, kulong rank) {
    files.push_back(file);
    ranks.push_back(static_cast<int32_t>(rank));
  }
};

bool hasHitTerm(std::string_view pattern) {
  for (char c : pattern)
    if (!isBlank(c) && !isOperator(c) && c != '"' && c != '<') return true;
  return false;
}

}  // namespace

QvSearchCriteria& QvKolvoIndex::criteria() const { return *mSearchCriteria; }

QvReferrals& QvKolvoIndex::referrals() const { return *mReferrals; }

std::shared_ptr<QvCommandObject> QvKolvoIndex::createChild(const std::string& className, const std::string& name) {
  // The saved index names its criteria and referrals; reading them back replaces the
  // children, and the index follows the new ones.
  if (qvEqualsCaseless(className, "QvSearchCriteria") && !name.empty()) {
    auto made = qvCreateChild<QvSearchCriteria>(*this, name);
    made->clear();
    if (qvEqualsCaseless(name, "criteria")) mSearchCriteria = made;
    return made;
  }
  if (qvEqualsCaseless(className, "QvReferrals") && !name.empty()) {
    auto made = qvCreateChild<QvReferrals>(*this, name);
    if (qvEqualsCaseless(name, "referrals")) mReferrals = made;
    return made;
  }
  return QvCommandParent::createChild(className, name);
}

std::string QvKolvoIndex::cmdFind(const std::string& phrase) {
  // The result set, its records and the listing come from a heap laid out for them.
  qvPrepareHeap();
  if (mTimeBase == 0) showWarning(qvkiNeedsToBeBuild.text());
  mSkippedWords.clear();
  std::string text = qvTrim(phrase);
  if (qvStartsWith(text, "|")) {
    text = qvTrim(text.substr(1));
  } else {
    mResults.clear();
  }
  ++mSearchCount;
  find(text, mResults);

  // A disabled referral is kept with the index but asked nothing.
  std::vector<std::shared_ptr<QvReferral>> referrals;
  for (const auto& referral : mReferrals->referrals())
    if (referral->mEnabled) referrals.push_back(referral);
  for (const auto& referral : referrals) referral->run(qvReferralFindCommands(*referral, *mSearchCriteria, text));
  std::string answer;
  if (!referrals.empty()) {
    awaitReferralResults();
    for (const auto& referral : referrals) {
      if (referral->isRunning()) {
        showWarning(qvReferralNotFinished.text() + referral->name());
      } else {
        bool inResults = false;
        const std::string output = referral->getOutput();
        // Line by line in place: an answer may hold ten thousand results.
        for (std::size_t at = 0;;) {
          std::size_t end = output.find('\n', at);
          std::string_view line = std::string_view(output).substr(at, end == std::string::npos ? end : end - at);
          std::string_view bare = trimmed(line);
          if (bare == "<RESULTS>") {
            inResults = true;
          } else if (bare == "</RESULTS>") {
            inResults = false;
          } else if (inResults) {
            mResults.addResult(referral->name(), line);
          } else if (!bare.empty()) {
            answer.append(line);
            answer += '\n';
          }
          if (end == std::string::npos) break;
          at = end + 1;
        }
      }
      referral->doneWithOutput();
    }
  }
  return answer;
}

void QvKolvoIndex::awaitReferralResults() {
  std::vector<std::shared_ptr<QvReferral>> referrals = mReferrals->referrals();
  long budget = 0;
  for (const auto& referral : referrals) budget += std::max(0, referral->mMax100msLoops);
  // The budget is time, in steps of 100 ms; the wait ends as soon as every referral has
  // answered, not at the end of the step in which the last answer came.
  auto& pump = QvEventPump::instance();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(budget * QvEventPump::kStepMilliseconds);
  for (;;) {
    bool running = false;
    for (const auto& referral : referrals) {
      if (!referral->isRunning()) continue;
      running = true;
      referral->Poll();
    }
    if (!running) return;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    long wait = std::min<long>(left.count(), QvEventPump::kStepMilliseconds);
    // A child whose output has ended is gone a moment later: with nothing left to
    // watch, it is looked for again soon rather than after a whole step.
    if (pump.idle()) wait = std::min<long>(wait, kolvo::limits::referralReapMilliseconds);
    pump.pump(static_cast<int>(wait));
  }
}

void QvKolvoIndex::find(const std::string& phrase, QvKolvoResults& results) {
  engineIndex();
  std::string text = normalisedPhrase(phrase);
  mLastSearchPhrase = text;
  if (text == "*") {
    addAll(results);
    return;
  }
  // A search into an empty set checks its files against the table and the criteria
  // once, at its end, when an AND of common words has left the fewest: the check keeps
  // the same files whether it comes before or after the sets are combined. A search
  // that adds to earlier results checks as it goes, leaving those as they were.
  bool checkAtEnd = results.empty();
  mCheckAtEnd = checkAtEnd;
  try {
    findPhrase(text, results, true);
  } catch (...) {
    // A halted search keeps what it had found, checked.
    mCheckAtEnd = false;
    if (checkAtEnd) keepListable(results);
    throw;
  }
  mCheckAtEnd = false;
  if (checkAtEnd) keepListable(results);
  if (results.hasAllKey()) addAll(results);
  if (hasContentsCondition(text)) checkContents(text, results);
}

void QvKolvoIndex::checkContents(const std::string& phrase, QvKolvoResults& results) {
  std::string pattern = parseSearchPhrase(phrase);
  // A phrase whose words are all too short to look for in the text leaves the
  // candidates as they are.
  if (!hasHitTerm(pattern)) return;
  static const auto containsHit = klib(kfcContainsHit);
  static const auto checkFiles = klib(kidxCheckContents);
  std::vector<kulong> files = results.localFiles();
  std::vector<char> verdicts;
  std::vector<kulong> lacking;
  // The engine reads a batch on all cores; between batches a halt is looked for.
  for (std::size_t from = 0; from < files.size(); from += kHaltCheckInterval) {
    checkHalt();
    std::size_t count = std::min<std::size_t>(kHaltCheckInterval, files.size() - from);
    verdicts.assign(count, 0);
    checkFiles(engineIndex(), files.data() + from, static_cast<kulong>(count),
               static_cast<kulong>(std::max(0, mMaxPerFileRead)), mWordWrap, mHideTags ? 1 : 0,
               mSearchCriteria->mNearCount, pattern.c_str(), 0, verdicts.data());
    lacking.clear();
    for (std::size_t i = 0; i < count; ++i) {
      kulong file = files[from + i];
      bool holds = verdicts[i] == 1;
      if (verdicts[i] == 2) {
        ContentsHolder contents(fileContents(file));
        // A file that vanished or cannot be read since the build cannot hold the phrase.
        holds = contents && containsHit(contents.get(), pattern.c_str()) != 0;
      }
      if (!holds) lacking.push_back(file);
    }
    results.removeResults(lacking);
  }
}

CFileContents* QvKolvoIndex::openContents(kulong file) {
  static const auto getContents = klib(kidxGetFileContents);
  return getContents(engineIndex(), file, static_cast<kulong>(std::max(0, mMaxPerFileRead)), mWordWrap,
                     mHideTags ? 1 : 0, mSearchCriteria->mNearCount);
}

CFileContents* QvKolvoIndex::fileContents(kulong file) {
  try {
    return openContents(file);
  } catch (const QvNilObjectException&) {
    throw;
  } catch (const QvCommandException&) {
    return nullptr;
  }
}

void QvKolvoIndex::findPhrase(const std::string& phrase, QvKolvoResults& results, bool first) {
  findPhrase(phrase, results, first, 0);
}

void QvKolvoIndex::findPhrase(const std::string& phrase, QvKolvoResults& results, bool first, int depth) {
  // Grouping is to the right ('a | b & c' is a | (b & c)); the operands are evaluated
  // left to right and folded from the right, so a long phrase needs no deep recursion.
  bool tokenRegex = mSearchCriteria->mTokenRegEx != nullptr;
  // The first operand is results itself; the others wait here for the fold.
  std::vector<QvKolvoResults> rights;
  std::vector<char> operators;
  std::string_view rest = trimmed(phrase);
  while (true) {
    QvKolvoResults& operand = operators.empty() ? results : rights.emplace_back(this);
    if (!rest.empty() && rest.front() == '(') {
      std::size_t close = closingParenthesis(rest);
      if (close == std::string_view::npos) throw QvCommandException(qvkiParenMismatch, Arguments{std::string(rest)});
      if (depth >= kMaxPhraseNesting)
        throw QvCommandException(qvkiPhraseTooDeep, Arguments{std::to_string(kMaxPhraseNesting), phrase});
      findPhrase(std::string(rest.substr(1, close - 1)), operand, true, depth + 1);
      rest = trimmed(rest.substr(close + 1));
    } else if (!rest.empty() && rest.front() == '"') {
      // A quoted phrase is one operand, the AND of its words, whatever stands around it:
      // '"lazy dog" | paper' is (lazy & dog) | paper. The contents check then wants the
      // words next to each other.
      std::size_t close = rest.find('"', 1);
      std::string inside(rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      for (char& c : inside)
        if (isOperator(c) && !mValidAnywhere[static_cast<unsigned char>(c)] &&
            !mValidTrailing[static_cast<unsigned char>(c)])
          c = ' ';
      findPhrase(inside, operand, true, depth + 1);
      rest = close == std::string_view::npos ? std::string_view() : trimmed(rest.substr(close + 1));
    } else if (!rest.empty() && rest.front() == ')') {
      throw QvCommandException(qvkiParenMismatch, Arguments{phrase});
    } else {
      std::size_t length = 0;
      if (tokenRegex) {
        // An expression runs to the next blank: "^", "$", "." and brackets are its own.
        while (length < rest.size() && !isBlank(rest[length])) ++length;
      } else {
        // A term ends at a blank, or at an operator that cannot be part of a word.
        while (length < rest.size() && !isBlank(rest[length])) {
          auto c = static_cast<unsigned char>(rest[length]);
          if (isOperator(rest[length]) && !mValidAnywhere[c] && !mValidTrailing[c]) break;
          ++length;
        }
      }
      findToken(std::string(rest.substr(0, length)), operand, first && operators.empty());
      rest = trimmed(rest.substr(length));
    }
    if (rest.empty()) break;
    char op = '&';
    char c = rest.front();
    bool counts = !tokenRegex || (rest.size() > 1 && isBlank(rest[1]));
    if (counts && (c == '&' || c == '^' || c == '|')) {
      op = c;
      rest.remove_prefix(1);
    } else if (counts && (c == '<' || c == '>' || c == ':')) {
      rest.remove_prefix(1);
      while (!rest.empty() && isDigit(rest.front())) rest.remove_prefix(1);
    }
    operators.push_back(op);
    rest = trimmed(rest);
  }
  for (std::size_t i = operators.size(); i-- > 0;) {
    QvKolvoResults& left = i == 0 ? results : rights[i - 1];
    QvKolvoResults& right = rights[i];
    switch (operators[i]) {
      case '|':
        left.orResults(right);
        break;
      case '^':
        if (left.hasAllKey()) addAll(left);
        left.notResults(right);
        break;
      default:
        left.andResults(right);
        break;
    }
    right.clear();
  }
}

void QvKolvoIndex::findToken(const std::string& token, QvKolvoResults& results, bool /*first*/) {
  std::string term = token;
  while (!term.empty() && (term.front() == '+' || term.front() == '"')) term.erase(0, 1);
  if (std::size_t quote = term.find('"'); quote != std::string::npos) term.erase(quote);
  if (term.empty()) {
    results.addAllKey();
    return;
  }
  CKolvoIndex* index = engineIndex();
  static const auto lookup = klib(ktsLookup);
  bool hasStar = term.find('*') != std::string::npos;
  bool isShort = static_cast<int>(term.size()) < mMinWordLength && !hasStar;
  CTextStorage* skipWords = klib(kidxGetSkipWords)(index);
  if (isShort || (skipWords && lookup(skipWords, term.c_str()) != 0)) {
    mSkippedWords += " " + term;
    results.addAllKey();
    return;
  }
  bool tokenRegex = mSearchCriteria->mTokenRegEx != nullptr;
  if (!tokenRegex && mNumberHandling != 2) {
    bool refused = mNumberHandling == 0 ? std::any_of(term.begin(), term.end(), isDigit) : isDigit(term.front());
    if (refused) throw QvCommandException(qvkiSearchPhraseNumberError, Arguments{term});
  }
  CTextStorage* words = kGetWords(index);
  if (!tokenRegex && term.find_first_of("*?") == std::string::npos) {
    if (kulong word = lookup(words, term.c_str()); word != 0) addWordFiles(word, results);
    return;
  }
  std::unique_ptr<QvRegex> expression;
  if (tokenRegex) {
    try {
      expression = std::make_unique<QvRegex>(term);
    } catch (const QvRegexError& error) {
      throw QvCommandException(qvkiBadTokenRegex, Arguments{error.what()});
    }
  }
  // Stored words are lower case; a wildcard term's letters before its first wildcard
  // must begin the word, which rules out most words before the engine's matcher runs.
  std::string prefix = term.substr(0, term.find_first_of("*?"));
  bool plainPrefix = !tokenRegex && std::all_of(prefix.begin(), prefix.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 0x80 && !(c >= 'A' && c <= 'Z');
  });
  static const auto prefixed = klib(ktsGetPrefixed);
  static const auto text = klib(ktsGetText);
  static const auto wordMatch = klib(kidxDoesWordMatch);
  // The files of the matching words are added all at once, or when a halt stops the
  // walk, so that a halted search has added what it had found.
  FilesMet met;
  auto addMet = [&] {
    addToResults(met.files, met.ranks, results);
    met = FilesMet();
  };
  CFileLinks* links = kGetLinks(index);
  // The engine walks the table and answers the words of the prefix a batch at a time;
  // a halt is looked for between batches.
  const std::string walked = plainPrefix ? prefix : std::string();
  std::vector<kulong> batch(kHaltCheckInterval);
  kulong cursor = 0;
  do {
    if (qvHaltRequested()) {
      addMet();
      checkHalt();
    }
    kulong count = prefixed(words, walked.c_str(), &cursor, batch.data(), static_cast<kulong>(batch.size()));
    for (kulong i = 0; i < count; ++i) {
      const char* stored = text(words, batch[i]);
      if (!stored) continue;
      bool matches = expression ? expression->foundIn(stored) : wordMatch(index, stored, term.c_str()) != 0;
      if (matches) qvForEachWordFile(words, links, batch[i], [&](kulong file, kulong rank) { met(file, rank); });
    }
  } while (cursor != 0);
  addMet();
}

void QvKolvoIndex::addWordFiles(kulong word, QvKolvoResults& results) {
  CKolvoIndex* index = engineIndex();
  FilesMet met;
  qvForEachWordFile(kGetWords(index), kGetLinks(index), word, [&](kulong file, kulong rank) { met(file, rank); });
  addToResults(met.files, met.ranks, results);
}

void QvKolvoIndex::addWordList(kulong list, QvKolvoResults& results) {
  FilesMet met;
  qvForEachListFile(kGetLinks(engineIndex()), list, [&](kulong file, kulong rank) { met(file, rank); });
  addToResults(met.files, met.ranks, results);
}

void QvKolvoIndex::addToResults(const std::vector<kulong>& files, const std::vector<int32_t>& ranks,
                                QvKolvoResults& results) {
  if (files.empty()) return;
  if (mCheckAtEnd) {
    for (std::size_t i = 0; i < files.size(); ++i)
      if (files[i] >= 1) results.addResult(files[i], ranks[i]);
    return;
  }
  QvResultListing listing(kGetFiles(engineIndex()));
  std::vector<KolvoFileRecord> records = listing.records(files);
  for (std::size_t i = 0; i < files.size(); ++i)
    if (files[i] >= 1 && records[i].name && doesCriteriaMatch(records[i], listing)) results.addResult(files[i], ranks[i]);
}

void QvKolvoIndex::keepListable(QvKolvoResults& results) {
  std::vector<kulong> files = results.localFiles();
  if (files.empty()) return;
  QvResultListing listing(kGetFiles(engineIndex()));
  std::vector<KolvoFileRecord> records = listing.records(files);
  std::vector<char> kept(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) kept[i] = records[i].name && doesCriteriaMatch(records[i], listing);
  results.keepLocal(kept);
  mCheckedFiles = std::move(files);
  mCheckedRecords = std::move(records);
}

bool QvKolvoIndex::checkedRecords(const std::vector<kulong>& files, std::vector<KolvoFileRecord>& records) const {
  if (mCheckedFiles.empty()) return false;
  records.resize(files.size());
  // Files listed in number order are found one after another; others by halving.
  std::size_t next = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::size_t at = next;
    if (at >= mCheckedFiles.size() || mCheckedFiles[at] != files[i]) {
      auto found = std::lower_bound(mCheckedFiles.begin(), mCheckedFiles.end(), files[i]);
      if (found == mCheckedFiles.end() || *found != files[i]) return false;
      at = static_cast<std::size_t>(found - mCheckedFiles.begin());
    }
    records[i] = mCheckedRecords[at];
    next = at + 1;
  }
  return true;
}

bool QvKolvoIndex::doesCriteriaMatch(const KolvoFileRecord& record, QvResultListing& listing) {
  const char* name = record.name;
  if (!name || static_cast<unsigned char>(name[0]) == 0xFF) return false;
  const QvSearchCriteria& criteria = *mSearchCriteria;
  if (criteria.hasDefaultValues()) return true;
  // A file of no folder stands for its own folder.
  auto folderName = [&]() -> std::string {
    const char* folder = record.parent ? listing.record(record.parent).name : name;
    return folder ? folder : "";
  };
  return criteria.admits(name, record.size, record.timeLastWritten, folderName);
}

void QvKolvoIndex::addAll(QvKolvoResults& results) {
  // The marker stands for every file; once they are added it has done its work.
  results.removeAllKey();
  static const auto first = klib(kfsGetFirst);
  static const auto next = klib(kfsGetNext);
  CFileStorage* files = kGetFiles(engineIndex());
  std::vector<kulong> all;
  int walked = 0;
  for (kulong file = first(files); file != 0; file = next(files, file)) {
    if (++walked % kHaltCheckInterval == 0) checkHalt();
    all.push_back(file);
  }
  QvResultListing listing(files);
  std::vector<KolvoFileRecord> records = listing.records(all);
  // Folders of no parent are the roots, which are no results.
  for (std::size_t i = 0; i < all.size(); ++i)
    if (records[i].name && records[i].parent != 0 && doesCriteriaMatch(records[i], listing)) results.addResult(all[i], 0);
}

std::string QvKolvoIndex::parseSearchPhrase(const std::string& phrase) const {
  std::string lower = qvLower(phrase);
  std::string word = "[" + mValidAnywhereStr + "*?\\.]+[" + mValidTrailingStr + "*?\\.]*";
  QvRegex tokens("(?x) [()&|] | [<:>]\\d* | (?:" + word + ") | \"(.*?)\"");
  QvRegex wordPattern(word);
  int nearCount = mSearchCriteria->mNearCount;
  // Units are copied words, operators and whole groups; a near operator takes back the
  // unit before it.
  std::vector<std::string> units;
  std::string pendingNear;
  auto place = [&](const std::string& unit) {
    if (pendingNear.empty() || units.empty()) {
      units.push_back(unit);
      pendingNear.clear();
      return;
    }
    std::string previous = units.back();
    units.pop_back();
    char kind = pendingNear[0];
    std::string distance = pendingNear.size() > 1 ? pendingNear.substr(1) : std::to_string(nearCount);
    std::string before = "( " + unit + " <" + distance + " " + previous + " )";
    std::string after = "( " + previous + " <" + distance + " " + unit + " )";
    if (kind == '<') units.push_back(after);
    else if (kind == '>') units.push_back(before);
    else units.push_back(before + " | " + after);
    pendingNear.clear();
  };
  std::size_t at = 0;
  while (auto match = tokens.search(lower, at)) {
    at = match->end() > match->start() ? match->end() : match->start() + 1;
    std::string token = match->group();
    if (token.empty()) continue;
    char c = token[0];
    if (token.size() == 1 && (c == '(' || c == ')' || c == '&' || c == '|')) {
      units.push_back(token);
    } else if (c == '<' || c == ':' || c == '>') {
      pendingNear = token;
    } else if (c == '"') {
      // The words of a quoted part follow one another; words too short to be indexed
      // still stand between them in the text.
      std::string inside = match->group(1);
      std::string group = "(";
      int gap = 1;
      bool any = false;
      std::size_t from = 0;
      while (auto piece = wordPattern.search(inside, from)) {
        from = piece->end() > piece->start() ? piece->end() : piece->start() + 1;
        std::string w = piece->group();
        if (static_cast<int>(w.size()) < mMinWordLength) {
          if (any) ++gap;
          continue;
        }
        group += any ? " <" + std::to_string(gap) + " " + w : " " + w;
        any = true;
        gap = 1;
      }
      place(group + " )");
    } else {
      place(token);
    }
    if (at >= lower.size()) break;
  }
  std::string pattern;
  for (const std::string& unit : units) pattern += (pattern.empty() ? "" : " ") + unit;
  return pattern;
}

QvKolvoResult QvKolvoIndex::describeFile(kulong file) {
  return QvResultListing(kGetFiles(engineIndex())).describe(file);
}

void QvKolvoIndex::createResultsList(int count, QvResults& lines, bool json) {
  if (count == 0) throw QvCommandException(qvZeroResultsRequested);
  const std::vector<QvKolvoResults::Entry>& ranked = mResults.ranked();
  std::size_t shown = count < 0 ? ranked.size() : std::min<std::size_t>(ranked.size(), static_cast<std::size_t>(count));
  // The local files shown are described in one call, their folders' paths made once.
  std::vector<kulong> files;
  files.reserve(shown);
  for (std::size_t i = 0; i < shown; ++i)
    if (ranked[i].file != 0) files.push_back(ranked[i].file);
  lines.reserveLines(shown + 2);
  if (!json) lines.push_back("<RESULTS>");
  std::optional<QvResultListing> listing;
  std::vector<KolvoFileRecord> records;
  if (!files.empty()) {
    listing.emplace(kGetFiles(engineIndex()));
    if (!checkedRecords(files, records)) records = listing->records(files);
  }
  // Each line is written in place, straight into the answer's text.
  auto list = [&](const QvKolvoResults::Entry& entry, std::string_view name, std::string_view path, int32_t rank,
                  double time, std::string_view size) {
    if (json) {
      QvKolvoResult result(rank);
      result.mFileName = name;
      result.mParentPath = path;
      result.mTimeLastWritten = time;
      result.mSize = size;
      lines.push_back(qvResultJson(result, entry.keyText()));
      return;
    }
    std::size_t room = name.size() + path.size() + size.size() + entry.key.size() + kResultFieldsSlack + 16;
    char* start = lines.lineRoom(room);
    char* end = qvWriteResultFields(start, name, path, rank, time, size);
    *end++ = '\t';
    if (entry.file != 0) {
      end = std::to_chars(end, end + 16, entry.file).ptr;
    } else {
      std::memcpy(end, entry.key.data(), entry.key.size());
      end += entry.key.size();
    }
    lines.keepLine(static_cast<std::size_t>(end - start));
  };
  std::size_t nextRecord = 0;
  for (std::size_t i = 0; i < shown; ++i) {
    const QvKolvoResults::Entry& entry = ranked[i];
    if (entry.file == 0) {
      // A referral's result as it answered; the all key, which no search leaves, as nothing.
      const QvKolvoResult* remote = mResults.remoteResult(entry.key);
      QvKolvoResult none;
      const QvKolvoResult& result = remote ? *remote : none;
      list(entry, result.mFileName, result.mParentPath, result.mRank, result.mTimeLastWritten, result.mSize);
      continue;
    }
    const KolvoFileRecord& record = records[nextRecord++];
    // A number that is no entry is listed with its rank and nothing else.
    std::string_view name = record.name ? record.name : "";
    std::string_view path = record.name ? std::string_view(listing->parentPath(entry.file, record.parent)) : "";
    char size[16];
    std::string_view sizeText(size, static_cast<std::size_t>(std::to_chars(size, size + sizeof size, record.size).ptr - size));
    list(entry, name, path, entry.rank, record.timeLastWritten, sizeText);
  }
  if (!json) lines.push_back("</RESULTS>");
}

bool QvKolvoIndex::isWordLengthShown(kulong length) const {
  // A maximum of 0 means no maximum.
  return static_cast<long>(length) >= mMinWordLength && (mMaxWordLength <= 0 || static_cast<long>(length) <= mMaxWordLength);
}

std::shared_ptr<QvReferral> QvKolvoIndex::referralNamed(const std::string& name) const {
  auto referral = std::dynamic_pointer_cast<QvReferral>(mReferrals->childNamed(name));
  if (!referral) throw QvCommandException(QvCommandParent::qvcpChildNotFound, Arguments{mReferrals->getPath(), name});
  return referral;
}

std::string QvKolvoIndex::cmdFileContents(const std::string& argument) {
  std::string key = qvTrim(argument);
  std::size_t split = qvReferralSplit(key);
  if (split != std::string::npos) {
    auto referral = referralNamed(key.substr(0, split));
    std::string commands = qvReferralContentsCommands(*referral, mOutlineContents, *mSearchCriteria, mLastSearchPhrase,
                                                      key.substr(split + 1));
    referral->run(commands);
    awaitReferralResults();
    std::string answer;
    if (referral->isRunning()) {
      showWarning(qvReferralNotFinished.text() + referral->name());
    } else {
      answer = referral->getOutput();
    }
    referral->doneWithOutput();
    return answer;
  }
  kulong file = 0;
  static const auto getInfo = klib(kfsGetInfo);
  static const auto getParent = klib(kfiGetFileParentID);
  const KolvoFileInfo* info = nullptr;
  if (qvIsLocalKey(key, &file) && file != 0) {
    try {
      info = getInfo(kGetFiles(engineIndex()), file);
    } catch (const QvNilObjectException&) {
      throw;
    } catch (const QvCommandException&) {
      info = nullptr;
    }
  }
  // Keys come from listresults; anything else is no file of this index.
  if (!info || getParent(info) == 0) throw QvCommandException(qvkiNoSuchFile, Arguments{key});
  ContentsHolder contents(openContents(file));
  if (!contents) return "{{SPLIT}}{{SPLIT}}{{SPLIT}}";
  std::string text;
  std::string hits = hitsOf(contents.get(), text);
  return "{{SPLIT}}" + hits + "{{SPLIT}}" + text + "{{SPLIT}}";
}

std::string QvKolvoIndex::hitsOf(CFileContents* contents, std::string& text) {
  static const auto contentsText = klib(kfcContents);
  if (mSearchCriteria->mTokenRegEx) {
    const char* all = contentsText(contents);
    text = all ? all : "";
    return tokenRegexHits(text);
  }
  std::string pattern = parseSearchPhrase(mLastSearchPhrase);
  if (mOutlineContents) klib(kfcConvertToOutline)(contents, pattern.c_str());
  std::string hits;
  if (mLastSearchPhrase != "*") {
    static const auto search = klib(kfcSearchBuffer);
    static const auto tokenLength = klib(kfcTokenLength);
    for (kulong hit = search(contents, 0, pattern.c_str()); hit != 0; hit = search(contents, hit, pattern.c_str())) {
      kulong length = tokenLength(contents, hit - 1);
      if (isWordLengthShown(length)) hits += std::to_string(hit) + ":" + std::to_string(length) + "\t";
    }
  }
  const char* all = contentsText(contents);
  text = all ? all : "";
  return hits;
}

std::string QvKolvoIndex::tokenRegexHits(std::string& text) {
  std::string alternatives;
  for (const std::string& piece : qvSplit(mLastSearchPhrase, ' ')) {
    if (piece.empty()) continue;
    std::string w = piece;
    std::string front = "\\b[^\\s]*", back = "[^\\s]*\\b";
    if (qvStartsWith(w, "^")) {
      w.erase(0, 1);
      front = "\\b";
    }
    if (qvEndsWith(w, "$")) {
      w.pop_back();
      back = "\\b";
    }
    alternatives += (alternatives.empty() ? "" : "|") + front + w + back;
  }
  if (alternatives.empty()) return std::string();
  std::unique_ptr<QvRegex> hitPattern;
  try {
    hitPattern = std::make_unique<QvRegex>(alternatives, QvRegex::kCaseless);
  } catch (const QvRegexError& error) {
    throw QvCommandException(qvkiBadTokenRegex, Arguments{error.what()});
  }
  if (mOutlineContents) {
    std::string outline;
    std::size_t from = 0;
    while (from < text.size()) {
      std::size_t end = text.find('\n', from);
      std::size_t stop = end == std::string::npos ? text.size() : end + 1;
      std::string_view line(text.data() + from, stop - from);
      if (hitPattern->foundIn(line)) outline.append(line);
      from = stop;
    }
    text = std::move(outline);
  }
  std::string hits;
  std::size_t at = 0;
  while (at <= text.size()) {
    auto match = hitPattern->search(text, at);
    if (!match) break;
    std::size_t length = match->end() - match->start();
    // Positions count from 1, as the plain search reports them.
    if (length > 0) hits += std::to_string(match->start() + 1) + ":" + std::to_string(length) + "\t";
    at = match->end() > match->start() ? match->end() : match->start() + 1;
  }
  return hits;
}
