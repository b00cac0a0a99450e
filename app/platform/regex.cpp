#include "app/platform/regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace {

std::string pcreMessage(int code) {
  std::vector<PCRE2_UCHAR> buffer(256);
  int length = pcre2_get_error_message(code, buffer.data(), buffer.size());
  if (length < 0) return "error " + std::to_string(code);
  return std::string(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(length));
}

struct MatchDataFree {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

// PCRE2 wants a real pointer even for an empty subject.
PCRE2_SPTR subjectOf(std::string_view text) {
  return reinterpret_cast<PCRE2_SPTR>(text.data() ? text.data() : "");
}

}  // namespace

QvRegexMatch::QvRegexMatch(std::string_view subject, std::vector<std::ptrdiff_t> offsets)
    : subject(subject), offsets(std::move(offsets)) {}

bool QvRegexMatch::hasGroup(std::size_t group) const {
  return group < groupCount() && offsets[2 * group] >= 0;
}

std::size_t QvRegexMatch::start(std::size_t group) const {
  return hasGroup(group) ? static_cast<std::size_t>(offsets[2 * group]) : std::string::npos;
}

std::size_t QvRegexMatch::end(std::size_t group) const {
  return hasGroup(group) ? static_cast<std::size_t>(offsets[2 * group + 1]) : std::string::npos;
}

std::string QvRegexMatch::group(std::size_t group) const {
  if (!hasGroup(group)) return std::string();
  return std::string(subject.substr(start(group), end(group) - start(group)));
}

void QvRegex::CodeFree::operator()(pcre2_real_code_8* compiled) const { pcre2_code_free(compiled); }

QvRegex::QvRegex(std::string_view pattern, unsigned options) : source(pattern) {
  uint32_t flags = 0;
  if (options & kCaseless) flags |= PCRE2_CASELESS;
  if (options & kMultiline) flags |= PCRE2_MULTILINE;
  if (options & kDotAll) flags |= PCRE2_DOTALL;
  int error = 0;
  PCRE2_SIZE errorOffset = 0;
  code.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), flags, &error,
                           &errorOffset, nullptr));
  if (!code) {
    throw QvRegexError("Bad regular expression \"" + source + "\": " + pcreMessage(error) + " at offset " +
                       std::to_string(errorOffset));
  }
}

QvRegex::~QvRegex() = default;
QvRegex::QvRegex(QvRegex&&) noexcept = default;
QvRegex& QvRegex::operator=(QvRegex&&) noexcept = default;

std::optional<QvRegexMatch> QvRegex::search(std::string_view text, std::size_t start) const {
  if (start > text.size()) return std::nullopt;
  std::unique_ptr<pcre2_match_data, MatchDataFree> data(pcre2_match_data_create_from_pattern(code.get(), nullptr));
  if (!data) throw std::bad_alloc();
  int found = pcre2_match(code.get(), subjectOf(text), text.size(), start, 0, data.get(),
                          nullptr);
  if (found == PCRE2_ERROR_NOMATCH) return std::nullopt;
  if (found < 0) throw QvRegexError("Matching \"" + source + "\" failed: " + pcreMessage(found));
  uint32_t pairs = pcre2_get_ovector_count(data.get());
  PCRE2_SIZE* vector = pcre2_get_ovector_pointer(data.get());
  std::vector<std::ptrdiff_t> offsets;
  offsets.reserve(2 * pairs);
  for (uint32_t i = 0; i < 2 * pairs; ++i) {
    offsets.push_back(vector[i] == PCRE2_UNSET ? -1 : static_cast<std::ptrdiff_t>(vector[i]));
  }
  return QvRegexMatch(text, std::move(offsets));
}

std::string QvRegex::substitute(std::string_view text, std::string_view replacement, bool global) const {
  uint32_t flags = PCRE2_SUBSTITUTE_OVERFLOW_LENGTH | PCRE2_SUBSTITUTE_UNSET_EMPTY;
  if (global) flags |= PCRE2_SUBSTITUTE_GLOBAL;
  std::string output(text.size() + replacement.size() + 16, '\0');
  for (;;) {
    PCRE2_SIZE length = output.size();
    int done = pcre2_substitute(code.get(), subjectOf(text), text.size(), 0, flags,
                                nullptr, nullptr, subjectOf(replacement),
                                replacement.size(), reinterpret_cast<PCRE2_UCHAR*>(output.data()), &length);
    if (done >= 0) {
      output.resize(length);
      return output;
    }
    if (done != PCRE2_ERROR_NOMEMORY) {
      throw QvRegexError("Replacing with \"" + source + "\" failed: " + pcreMessage(done));
    }
    // With OVERFLOW_LENGTH the needed size (with its terminating NUL) comes back in length.
    output.resize(length);
  }
}

std::string QvRegex::replaceAll(std::string_view text, std::string_view replacement) const {
  return substitute(text, replacement, true);
}

std::string QvRegex::replaceFirst(std::string_view text, std::string_view replacement) const {
  return substitute(text, replacement, false);
}
