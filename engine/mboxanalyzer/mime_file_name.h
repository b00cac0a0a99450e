// CMimeFileName: the file name a MIME part's headers give, gathered line by line from
// "filename=" and its extended forms: "filename*=" (charset'language'percent-encoded)
// and the numbered sections "filename*0=", "filename*1*=" that continue one another.
// Parameter names are read without regard to case. Used by the mail analyzer.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

class CMimeFileName {
 public:
  // Takes every file name parameter on one header line.
  void take(std::string_view line);
  // The name: the extended one, else the sections joined from 0 up while they run on,
  // else the plain one (the first given); none when no parameter was seen.
  std::optional<std::string> name() const;
  void reset();

 private:
  void keepSection(unsigned section, std::string value);

  std::optional<std::string> plain;
  std::optional<std::string> extended;
  std::map<unsigned, std::string> sections;
};
