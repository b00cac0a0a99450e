#include "app/commands/message.h"

#include <libintl.h>
#include <locale.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/platform/program_folder.h"

namespace {

// gettext marks a context by joining it to the message id with character 4.
constexpr char kContextSeparator = '\004';

void ensureMessagesLocale() {
  auto plain = [] {
    const char* current = setlocale(LC_MESSAGES, nullptr);
    return !current || std::strcmp(current, "C") == 0 || std::strcmp(current, "POSIX") == 0;
  };
  if (plain()) setlocale(LC_MESSAGES, "");
  if (plain()) setlocale(LC_MESSAGES, "C.UTF-8");
}

}  // namespace

std::string QvMessage::text() const {
  std::string key = std::string(qualifiedName) + kContextSeparator + english;
  const char* translated = dgettext(kQvTextDomain, key.c_str());
  // gettext answers its own argument when there is no translation.
  if (translated == key.c_str() || std::strcmp(translated, key.c_str()) == 0) return english;
  return translated;
}

std::string QvMessage::text(const std::vector<std::string>& arguments) const {
  return qvFillPlaceholders(text(), arguments);
}

std::string qvFillPlaceholders(std::string_view message, const std::vector<std::string>& arguments) {
  // Find each placeholder's first place in the message itself before replacing anything.
  std::vector<std::size_t> places(arguments.size(), std::string_view::npos);
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    places[i] = message.find("%" + std::to_string(i + 1) + "%");
  }
  std::string filled;
  std::size_t at = 0;
  while (at < message.size()) {
    std::size_t next = std::string_view::npos, which = 0;
    for (std::size_t i = 0; i < places.size(); ++i) {
      if (places[i] != std::string_view::npos && places[i] >= at && places[i] < next) {
        next = places[i];
        which = i;
      }
    }
    if (next == std::string_view::npos) {
      filled.append(message.substr(at));
      break;
    }
    filled.append(message.substr(at, next - at));
    filled.append(arguments[which]);
    at = next + std::to_string(which + 1).size() + 2;
  }
  return filled;
}

void qvBindMessageCatalogs(const std::string& directory) {
  ensureMessagesLocale();
  bindtextdomain(kQvTextDomain, directory.c_str());
  bind_textdomain_codeset(kQvTextDomain, "UTF-8");
}

std::string qvInstalledCatalogDirectory() {
  // The build folder keeps them in locale/ beside the program; an installed program finds
  // them relative to itself, wherever its prefix lies.
  std::filesystem::path found = qvFindBesideProgram({"locale", KOLVO_LOCALE_FROM_PROGRAM}, "");
  return found.empty() ? KOLVO_LOCALE_DIR : found.string();
}

void qvSetMessageLanguage(const std::string& language) {
  ensureMessagesLocale();
  if (language.empty()) {
    unsetenv("LANGUAGE");
  } else {
    setenv("LANGUAGE", language.c_str(), 1);
  }
  // Setting the text domain, even to itself, makes gettext forget what it looked up.
  std::string domain = textdomain(nullptr);
  textdomain(domain.c_str());
}
