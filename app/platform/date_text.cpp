#include "app/platform/date_text.h"

#include <cmath>
#include <ctime>
#include <vector>

#include "app/platform/folder_item.h"
#include "app/platform/regex.h"

namespace {

int field(const QvRegexMatch& match, std::size_t group, int absent) {
  if (!match.hasGroup(group)) return absent;
  return std::stoi(match.group(group));
}

}  // namespace

std::optional<double> qvParseDate(std::string_view text) {
  static const QvRegex dateForm(
      "^\\s*(\\d{4})([-/])(\\d{1,2})\\2(\\d{1,2})(?:(?:\\s+|T)(\\d{1,2}):(\\d{2})(?::(\\d{2}))?)?\\s*$");
  auto match = dateForm.search(text);
  if (!match) return std::nullopt;
  std::tm parts{};
  parts.tm_year = field(*match, 1, 0) - 1900;
  parts.tm_mon = field(*match, 3, 0) - 1;
  parts.tm_mday = field(*match, 4, 0);
  parts.tm_hour = field(*match, 5, 0);
  parts.tm_min = field(*match, 6, 0);
  parts.tm_sec = field(*match, 7, 0);
  parts.tm_isdst = -1;
  std::tm wanted = parts;
  parts.tm_wday = -1;  // a failed mktime leaves it so; -1 is also a valid time
  std::time_t when = std::mktime(&parts);
  if (parts.tm_wday < 0) return std::nullopt;
  // mktime rolls 31 April over into May; such a date does not exist.
  if (parts.tm_year != wanted.tm_year || parts.tm_mon != wanted.tm_mon || parts.tm_mday != wanted.tm_mday ||
      wanted.tm_hour > 23 || wanted.tm_min > 59 || wanted.tm_sec > 59) {
    return std::nullopt;
  }
  return static_cast<double>(when) + kSecondsFrom1904To1970;
}

std::string qvShortDate(double secondsSince1904) {
  // A time read from a saved file may lie beyond any date (or be no number at all).
  double since1970 = std::floor(secondsSince1904 - kSecondsFrom1904To1970);
  if (!(since1970 >= -0x1p62 && since1970 <= 0x1p62)) return std::string();
  std::time_t when = static_cast<std::time_t>(since1970);
  std::tm parts{};
  if (!localtime_r(&when, &parts)) return std::string();
  std::vector<char> buffer(64);
  std::size_t length = std::strftime(buffer.data(), buffer.size(), "%Y-%m-%d", &parts);
  return std::string(buffer.data(), length);
}
