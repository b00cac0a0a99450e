// kolvolib.so as the program meets it: every entry the public header declares can be
// bound by name, and nothing of the engine's internals is exported.
#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <cctype>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

std::set<std::string> declaredEntries() {
  std::ifstream header(std::string(KOLVO_SOURCE_DIR) + "/include/kolvolib.h");
  std::stringstream text;
  text << header.rdbuf();
  std::string all = text.str();
  std::set<std::string> names;
  // Each declaration is a line "KOLVO_EXPORT <type> <name>(...".
  std::istringstream lines(all);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("KOLVO_EXPORT ", 0) != 0) continue;
    size_t open = line.find('(');
    if (open == std::string::npos) continue;
    size_t end = open;
    while (end > 0 && line[end - 1] == ' ') --end;
    size_t begin = end;
    while (begin > 0 && (std::isalnum(static_cast<unsigned char>(line[begin - 1])) || line[begin - 1] == '_')) --begin;
    names.insert(line.substr(begin, end - begin));
  }
  return names;
}

std::set<std::string> dynamicSymbols() {
  std::set<std::string> names;
  std::string command = std::string("nm -D --defined-only ") + KOLVO_LIBRARY_PATH;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return names;
  char line[4096];
  while (fgets(line, sizeof line, pipe.get())) {
    std::istringstream fields(line);
    std::string address, kind, name;
    // Every kind counts: weak (W, V) and unique (u) symbols are how template
    // instantiations of the C++ library would leak out.
    if (fields >> address >> kind >> name) names.insert(name);
  }
  return names;
}

TEST(KolvolibExports, EveryDeclaredEntryResolvesByName) {
  void* library = dlopen(KOLVO_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  std::set<std::string> entries = declaredEntries();
  ASSERT_GT(entries.size(), 20u) << "the header's declarations were not found";
  for (const std::string& name : entries) EXPECT_NE(dlsym(library, name.c_str()), nullptr) << name;
  dlclose(library);
}

TEST(KolvolibExports, OnlyDeclaredEntriesAreExported) {
  std::set<std::string> entries = declaredEntries();
  std::set<std::string> exported = dynamicSymbols();
  ASSERT_FALSE(exported.empty());
  for (const std::string& name : exported)
    EXPECT_TRUE(entries.count(name)) << name << " is exported but not declared in kolvolib.h";
}

TEST(KolvolibExports, NamesFollowTheFamiliesOfTheInterface) {
  // The k... entries, the hexadecimal helpers and the case table's refill, nothing else.
  const std::set<std::string> others{"convertToHex", "convertFromHex", "tohex", "fromhex", "mapLowerCaseChars"};
  for (const std::string& name : dynamicSymbols())
    EXPECT_TRUE(name[0] == 'k' || others.count(name)) << name;
}

TEST(KolvolibExports, CodeMessagesAndVersionComeFromTheLibrary) {
  void* library = dlopen(KOLVO_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto message = reinterpret_cast<const char* (*)(const char*)>(dlsym(library, "kCodeMessage"));
  auto version = reinterpret_cast<const char* (*)()>(dlsym(library, "kGetVersion"));
  ASSERT_TRUE(message && version);
  struct Case {
    const char* code;
    const char* text;  // null: shown as the code itself
  } cases[] = {
      {"StorageReadError", "Error reading %1%"},
      {"storagereaderror", "Error reading %1%"},
      {"CompLinksFmt", "Resolving links %1% -  %2%"},
      {"Done", nullptr},
      {"NoSuchCode", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    const char* text = message(c.code);
    if (c.text) {
      EXPECT_STREQ(text, c.text) << c.code;
    } else {
      EXPECT_EQ(text, nullptr) << c.code;
    }
  }
  EXPECT_EQ(message(nullptr), nullptr);
  EXPECT_STREQ(version(), KOLVO_VERSION);
  dlclose(library);
}

}  // namespace
