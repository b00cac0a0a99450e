// The peer of kolvocmd in the race benchmark: the same work done with SQLite FTS5, one
// process per step, as a small indexer built on it would do it.
//
//   fts5_driver build DATABASE ROOT    index every *.txt and *.html below ROOT afresh
//   fts5_driver update DATABASE ROOT   re-read what changed since, drop what went
//   fts5_driver query DATABASE QUERY   print the path of every file matching the FTS5
//                                      query, one a line, then "Found N"
//
// One row a file: the table "files" holds its path, time and size, the FTS5 table "docs"
// its text under the same rowid; the text is kept, so that a changed file's old words can
// be deleted. Words are runs of letters, case folded, as kolvo's letters-only words: the
// unicode61 tokenizer with only the letter categories as token characters. HTML pages
// reach FTS5 as kolvo shows them: tags and script elements dropped, entities decoded.
// Each build and update is one transaction with SQLite's default journal and syncing.
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace {

namespace fs = std::filesystem;

constexpr const char* schema =
    "CREATE TABLE files(id INTEGER PRIMARY KEY, path TEXT UNIQUE NOT NULL, mtime INTEGER, size INTEGER);"
    "CREATE VIRTUAL TABLE docs USING fts5(body, tokenize = \"unicode61 remove_diacritics 0 categories 'L*'\");";

class Database {
 public:
  explicit Database(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) fail("open " + path);
  }
  ~Database() { sqlite3_close(db); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  void exec(const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(sql);
  }
  [[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
  }
  sqlite3* db = nullptr;
};

class Statement {
 public:
  Statement(Database& database, const char* sql) : database(database) {
    if (sqlite3_prepare_v2(database.db, sql, -1, &statement, nullptr) != SQLITE_OK) database.fail(sql);
  }
  ~Statement() { sqlite3_finalize(statement); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement& bind(int at, const std::string& text) {
    sqlite3_bind_text(statement, at, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    return *this;
  }
  Statement& bind(int at, sqlite3_int64 number) {
    sqlite3_bind_int64(statement, at, number);
    return *this;
  }
  // Steps once; answers whether a row came.
  bool step() {
    int result = sqlite3_step(statement);
    if (result == SQLITE_ROW) return true;
    if (result != SQLITE_DONE) database.fail(sqlite3_sql(statement));
    return false;
  }
  void run() {
    step();
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
  }
  sqlite3_stmt* statement = nullptr;

 private:
  Database& database;
};

bool endsWith(const std::string& text, const char* end) {
  std::size_t n = std::strlen(end);
  return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

bool isIndexed(const std::string& path) { return endsWith(path, ".txt") || endsWith(path, ".html"); }

void appendUtf8(std::string& out, unsigned value) {
  if (value < 0x80) {
    out += static_cast<char>(value);
  } else {
    out += static_cast<char>(0xC0 | (value >> 6));
    out += static_cast<char>(0x80 | (value & 0x3F));
  }
}

// The text of a page: tags and script elements dropped, the common entities and the
// numeric ones up to 255 decoded, any other entity read as a blank.
std::string pageText(const std::string& page) {
  std::string out;
  out.reserve(page.size());
  std::size_t i = 0;
  while (i < page.size()) {
    char c = page[i];
    if (c == '<') {
      bool script = page.compare(i, 7, "<script") == 0 || page.compare(i, 7, "<SCRIPT") == 0;
      std::size_t end = page.find('>', i);
      if (script && end != std::string::npos) {
        std::size_t close = page.find("</script", end);
        if (close == std::string::npos) close = page.find("</SCRIPT", end);
        end = close == std::string::npos ? std::string::npos : page.find('>', close);
      }
      out += ' ';
      if (end == std::string::npos) break;
      i = end + 1;
    } else if (c == '&') {
      std::size_t semicolon = page.find(';', i);
      if (semicolon == std::string::npos || semicolon - i > 32) {
        out += ' ';
        ++i;
        continue;
      }
      std::string name = page.substr(i + 1, semicolon - i - 1);
      unsigned value = ' ';
      if (name == "amp") value = '&';
      else if (name == "lt") value = '<';
      else if (name == "gt") value = '>';
      else if (name == "quot") value = '"';
      else if (name == "apos") value = '\'';
      else if (name.size() > 1 && name[0] == '#') value = static_cast<unsigned>(std::atoi(name.c_str() + 1)) & 0xFF;
      appendUtf8(out, value == 0 ? ' ' : value);
      i = semicolon + 1;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

std::string textOf(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return endsWith(path, ".html") ? pageText(text) : text;
}

struct Stamp {
  sqlite3_int64 mtime = 0, size = 0;
};

bool stampOf(const std::string& path, Stamp& stamp) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  stamp.mtime = static_cast<sqlite3_int64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  stamp.size = info.st_size;
  return true;
}

// The writes of a build or an update.
class Writer {
 public:
  explicit Writer(Database& database)
      : addFile(database, "INSERT INTO files(path, mtime, size) VALUES(?, ?, ?)"),
        addText(database, "INSERT INTO docs(rowid, body) VALUES(?, ?)"),
        restamp(database, "UPDATE files SET mtime = ?, size = ? WHERE id = ?"),
        dropFile(database, "DELETE FROM files WHERE id = ?"),
        dropText(database, "DELETE FROM docs WHERE rowid = ?"),
        database(database) {}
  void add(const std::string& path, const Stamp& stamp) {
    std::string text = textOf(path);
    addFile.bind(1, path).bind(2, stamp.mtime).bind(3, stamp.size).run();
    addText.bind(1, sqlite3_last_insert_rowid(database.db)).bind(2, text).run();
  }
  void replace(sqlite3_int64 id, const std::string& path, const Stamp& stamp) {
    std::string text = textOf(path);
    dropText.bind(1, id).run();
    addText.bind(1, id).bind(2, text).run();
    restamp.bind(1, stamp.mtime).bind(2, stamp.size).bind(3, id).run();
  }
  void drop(sqlite3_int64 id) {
    dropText.bind(1, id).run();
    dropFile.bind(1, id).run();
  }

 private:
  Statement addFile, addText, restamp, dropFile, dropText;
  Database& database;
};

// Calls visit(path, stamp) for every regular file below root that is indexed.
template <typename Visit>
void walk(const std::string& root, Visit visit) {
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::string path = entry.path().string();
    Stamp stamp;
    if (isIndexed(path) && stampOf(path, stamp)) visit(path, stamp);
  }
}

int build(const std::string& database, const std::string& root) {
  fs::remove(database);
  fs::remove(database + "-journal");
  Database db(database);
  db.exec(schema);
  db.exec("BEGIN");
  Writer writer(db);
  long files = 0;
  walk(root, [&](const std::string& path, const Stamp& stamp) {
    writer.add(path, stamp);
    ++files;
  });
  db.exec("COMMIT");
  std::printf("built %ld files\n", files);
  return 0;
}

int update(const std::string& database, const std::string& root) {
  Database db(database);
  struct Known {
    sqlite3_int64 id;
    Stamp stamp;
    bool seen = false;
  };
  std::unordered_map<std::string, Known> known;
  {
    Statement all(db, "SELECT id, path, mtime, size FROM files");
    while (all.step()) {
      const char* path = reinterpret_cast<const char*>(sqlite3_column_text(all.statement, 1));
      known[path] = {sqlite3_column_int64(all.statement, 0),
                     {sqlite3_column_int64(all.statement, 2), sqlite3_column_int64(all.statement, 3)}};
    }
  }
  db.exec("BEGIN");
  long added = 0, changed = 0, deleted = 0;
  {
    Writer writer(db);
    walk(root, [&](const std::string& path, const Stamp& stamp) {
      auto found = known.find(path);
      if (found == known.end()) {
        writer.add(path, stamp);
        ++added;
        return;
      }
      found->second.seen = true;
      if (found->second.stamp.mtime != stamp.mtime || found->second.stamp.size != stamp.size) {
        writer.replace(found->second.id, path, stamp);
        ++changed;
      }
    });
    for (const auto& [path, file] : known) {
      if (file.seen) continue;
      writer.drop(file.id);
      ++deleted;
    }
  }
  db.exec("COMMIT");
  std::printf("updated: %ld added, %ld changed, %ld deleted\n", added, changed, deleted);
  return 0;
}

int query(const std::string& database, const std::string& expression) {
  Database db(database);
  Statement matching(db, "SELECT files.path FROM docs JOIN files ON files.id = docs.rowid WHERE docs MATCH ?");
  matching.bind(1, expression);
  long found = 0;
  std::string out;
  while (matching.step()) {
    out += reinterpret_cast<const char*>(sqlite3_column_text(matching.statement, 0));
    out += '\n';
    ++found;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::printf("Found %ld\n", found);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: fts5_driver build|update DATABASE ROOT | fts5_driver query DATABASE QUERY\n");
    return 2;
  }
  std::string command = argv[1];
  try {
    if (command == "build") return build(argv[2], argv[3]);
    if (command == "update") return update(argv[2], argv[3]);
    if (command == "query") return query(argv[2], argv[3]);
    std::fprintf(stderr, "fts5_driver: unknown command %s\n", argv[1]);
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "fts5_driver: %s\n", error.what());
    return 1;
  }
}
