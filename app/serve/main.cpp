// kolvoserve: serves the indexes of a kolvo directory to network referrals over TCP.
// Each client logs in with "index:user:password", checked against the users file, and
// may then run only the commands a referral sends.
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "app/commands/command_exception.h"
#include "app/commands/message.h"
#include "app/index/kolvo_index.h"
#include "app/index/kolvo_lib.h"
#include "app/referrals/local_referral.h"
#include "app/referrals/referral_commands.h"
#include "app/serve/referral_server.h"
#include "app/serve/serve_users.h"
#include "app/startup/command_line.h"
#include "app/referrals/referral_limits.h"

namespace {

constexpr const char* kUsage =
    "Usage: kolvoserve [--listen ADDR:PORT] [--max-connections N] [--time-limit S] [--idle-limit S]\n"
    "       kolvoserve --set-password NAME INDEX...\n"
    "Serves the indexes of the kolvo directory ($KOLVODIR, else ~/.kolvo) to network referrals.\n"
    "  --listen ADDR:PORT    address to listen on (default 127.0.0.1:4386; IPv6 as [::1]:PORT)\n"
    "  --max-connections N   connections served at once (default 16)\n"
    "  --time-limit S        seconds a connection may last (default 60)\n"
    "  --idle-limit S        seconds a client may stay silent (default 10)\n"
    "  --version             show the versions of kolvoserve and of its engine\n"
    "  --set-password NAME INDEX...\n"
    "                        adds or replaces user NAME, who may open the INDEXes; the password\n"
    "                        is read from the terminal without echo, or from standard input\n"
    "Users are kept in kolvoserve.users in the kolvo directory (name:crypt hash:indexes).\n";

int fail(const std::string& text) {
  std::cerr << "kolvoserve: " << text << std::endl;
  return 1;
}

// A line from standard input; on a terminal without echo, after a prompt.
bool readPassword(const char* prompt, std::string& password) {
  bool terminal = isatty(0);
  termios saved{};
  if (terminal) {
    std::cerr << prompt << std::flush;
    tcgetattr(0, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(0, TCSAFLUSH, &quiet);
  }
  bool read = static_cast<bool>(std::getline(std::cin, password));
  if (terminal) {
    tcsetattr(0, TCSAFLUSH, &saved);
    std::cerr << std::endl;
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return read;
}

int setPassword(const std::string& usersFile, const std::string& name, const std::set<std::string>& indexes) {
  if (!QvServeUsers::isValidName(name)) return fail("a user name may not be empty or hold ':', a blank or a quote");
  for (const std::string& index : indexes)
    if (!qvIsSendableIndexName(index) || index.find(':') != std::string::npos)
      return fail("not an index name: " + index);
  std::string password, again;
  if (!readPassword("Password: ", password) || password.empty()) return fail("no password given");
  if (isatty(0) && (!readPassword("Again: ", again) || again != password)) return fail("the passwords differ");
  QvServeUsers users = QvServeUsers::load(usersFile);
  users.setUser(name, password, indexes);
  users.save(usersFile);
  std::cerr << "kolvoserve: user " << name << " saved in " << usersFile << std::endl;
  return 0;
}

// "host:port", "[v6]:port" or ":port".
bool splitListen(const std::string& text, QvServerOptions& options) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) return false;
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (!host.empty()) options.host = host;
  options.port = text.substr(colon + 1);
  return true;
}

bool positive(const std::string& text, int& value) {
  char* end = nullptr;
  long number = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || number <= 0 || number > 1000000) return false;
  value = static_cast<int>(number);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  QvServerOptions options;
  options.connectionSeconds = kolvo::limits::serveConnectionSeconds;
  options.maxConnections = kolvo::limits::serveConnections;
  options.session.idleSeconds = kolvo::limits::serveIdleSeconds;
  options.session.outputBytes = kolvo::limits::serveOutputBytes;
  options.session.kolvoDirectory = QvKolvoIndex::getKolvoDirectory();
  std::string usersFile = options.session.kolvoDirectory + "/" + QvServeUsers::kFileName;
  qvBindMessageCatalogs(qvInstalledCatalogDirectory());
  try {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      const std::string& option = arguments[i];
      bool hasValue = i + 1 < arguments.size();
      if (option == "--help") {
        std::cout << kUsage;
        return 0;
      } else if (option == "--version") {
        std::cout << qvVersionText("kolvoserve", KOLVO_VERSION);
        return 0;
      } else if (option == "--set-password" && hasValue) {
        std::set<std::string> indexes(arguments.begin() + static_cast<long>(i) + 2, arguments.end());
        return setPassword(usersFile, arguments[i + 1], indexes);
      } else if (option == "--listen" && hasValue) {
        if (!splitListen(arguments[++i], options)) return fail("--listen wants ADDR:PORT");
      } else if (option == "--max-connections" && hasValue) {
        if (!positive(arguments[++i], options.maxConnections)) return fail("--max-connections wants a count");
      } else if (option == "--time-limit" && hasValue) {
        if (!positive(arguments[++i], options.connectionSeconds)) return fail("--time-limit wants seconds");
      } else if (option == "--idle-limit" && hasValue) {
        if (!positive(arguments[++i], options.session.idleSeconds)) return fail("--idle-limit wants seconds");
      } else {
        std::cerr << kUsage;
        return 2;
      }
    }
    // A server reachable from the network never runs with every right of the machine.
    if (geteuid() == 0 || getuid() == 0) return fail("refusing to run as root; start it as an ordinary user");
    QvServeUsers::load(usersFile);  // a users file others may write stops the server now
    // The engine is loaded once; every connection's child inherits it.
    QvKolvoLib::registerThrowCallback();
    // Local referrals of served indexes run kolvocmd, found beside this program.
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) QvLocalReferral::useProgram(qvShellQuoted((self.parent_path() / "kolvocmd").string()));
  } catch (const std::exception& error) {
    return fail(error.what());
  }
  QvReferralServer server(options);
  std::string failed = server.listen();
  if (!failed.empty()) return fail("cannot listen on " + options.host + ":" + options.port + ": " + failed);
  std::cerr << "kolvoserve: listening on " << server.address() << std::endl;
  server.serve();
  std::cerr << "kolvoserve: stopped" << std::endl;
  return 0;
}
