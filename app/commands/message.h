// Named message constants: every text the user sees is one of these, known by its
// qualified name ("Class.constant") and its English default. The text is looked up
// through gettext in the text domain "kolvocmd" with the qualified name as context,
// so a translation catalog may replace it; without one the English text stands.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class QvMessage {
 public:
  constexpr QvMessage(const char* qualifiedName, const char* english)
      : qualifiedName(qualifiedName), english(english) {}

  // The text in the current language.
  std::string text() const;
  // The text with %1%, %2% ... filled (see qvFillPlaceholders).
  std::string text(const std::vector<std::string>& arguments) const;
  std::string operator()() const { return text(); }

  const char* qualifiedName;
  const char* english;
};

// For i = 1, 2 ... the first "%i%" of the message becomes arguments[i-1]. Only the
// message's own placeholders are filled: text brought in by an argument stays as it is.
std::string qvFillPlaceholders(std::string_view message, const std::vector<std::string>& arguments);

// The text domain of all messages.
inline constexpr const char* kQvTextDomain = "kolvocmd";

// Where the catalogs are found: <directory>/<language>/LC_MESSAGES/kolvocmd.mo. Also puts
// the messages category into the user's locale (or C.UTF-8 when that is plain "C",
// where gettext would ignore LANGUAGE). When the environment asks for no language, both
// wait until qvSetMessageLanguage asks for one.
void qvBindMessageCatalogs(const std::string& directory);
// The directory the catalogs are installed in.
std::string qvInstalledCatalogDirectory();
// Switches the language of the messages ("de", "en" ...; empty for the user's own).
void qvSetMessageLanguage(const std::string& language);
