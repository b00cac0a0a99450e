#include "app/search/result_json.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "app/commands/text_tools.h"

namespace {

// Seconds between 1904-01-01 and 1970-01-01.
constexpr double kUnixEpochSince1904 = 2082844800.0;

std::string isoTime(double secondsSince1904) {
  std::time_t unix = static_cast<std::time_t>(std::floor(secondsSince1904 - kUnixEpochSince1904));
  std::tm utc{};
  char text[32];
  if (!gmtime_r(&unix, &utc) || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) return "";
  return text;
}

std::string number(double value) {
  std::string text;
  qvAppendDecimal(text, value);
  return text;
}

bool isDecimal(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

std::string qvJsonString(std::string_view text) {
  std::string utf8 = qvIsValidUtf8(text) ? std::string(text) : qvLatin1ToUtf8(text);
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string qvResultJson(const QvKolvoResult& result, const std::string& key) {
  std::string line = "{\"path\":" + qvJsonString(result.mParentPath + result.mFileName) +
                     ",\"folder\":" + qvJsonString(result.mParentPath) + ",\"name\":" + qvJsonString(result.mFileName) +
                     ",\"rank\":" + std::to_string(result.mRank) + ",\"size\":" +
                     (isDecimal(result.mSize) ? result.mSize : qvJsonString(result.mSize)) +
                     ",\"time\":" + qvJsonString(isoTime(result.mTimeLastWritten)) +
                     ",\"seconds\":" + number(result.mTimeLastWritten) + ",\"key\":" + qvJsonString(key);
  std::size_t split = qvReferralSplit(key);
  if (split != std::string::npos) line += ",\"referral\":" + qvJsonString(key.substr(0, split));
  return line + "}";
}
