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

// The catalogs' directory, bound to the text domain once a translation may be asked for.
std::string gCatalogDirectory;
bool gCatalogsBound = false;

void bindCatalogs() {
  if (gCatalogsBound) return;
  gCatalogsBound = true;
  ensureMessagesLocale();
  if (gCatalogDirectory.empty()) return;
  bindtextdomain(kQvTextDomain, gCatalogDirectory.c_str());
  bind_textdomain_codeset(kQvTextDomain, "UTF-8");
}

// Whether the environment asks for messages in some language: LANGUAGE, or a messages
// locale (LC_ALL, else LC_MESSAGES, else LANG, as setlocale reads them) other than the
// plain C one, whose messages are the English texts themselves. Without it, gettext in
// the C locale answers every text unchanged and never looks for a catalog, and the
// locale files need not be read at all.
bool translationAsked() {
  const char* language = std::getenv("LANGUAGE");
  if (language && *language) return true;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    return std::strcmp(value, "C") != 0 && std::strcmp(value, "POSIX") != 0 && std::strncmp(value, "C.", 2) != 0;
  }
  return false;
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
  gCatalogDirectory = directory;
  gCatalogsBound = false;
  if (translationAsked()) bindCatalogs();
}

std::string qvInstalledCatalogDirectory() {
  // The build folder keeps them in locale/ beside the program; an installed program finds
  // them relative to itself, wherever its prefix lies.
  std::filesystem::path found = qvFindBesideProgram({"locale", KOLVO_LOCALE_FROM_PROGRAM}, "");
  return found.empty() ? KOLVO_LOCALE_DIR : found.string();
}

void qvSetMessageLanguage(const std::string& language) {
  bindCatalogs();
  if (language.empty()) {
    unsetenv("LANGUAGE");
  } else {
    setenv("LANGUAGE", language.c_str(), 1);
  }
  // Setting the text domain, even to itself, makes gettext forget what it looked up.
  std::string domain = textdomain(nullptr);
  textdomain(domain.c_str());
}
