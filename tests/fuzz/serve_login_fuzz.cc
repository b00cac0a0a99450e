// The login exchange of kolvoserve and the request after it, over a socket pair: the
// input's first line is the login ("index:user:password"), the rest the commands, each
// sent framed; with the first byte '!' the rest of the input is sent as it stands
// instead, frames or not. The users file knows "fuzzer" (password "secret", index
// "default") under a cheap hash, and the index "default" of a small tree is built once.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "app/commands/command_interface.h"
#include "app/referrals/referral_frame.h"
#include "app/serve/serve_session.h"
#include "app/serve/serve_users.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Served {
  Served() {
    QvCommandInterface commands;
    kolvofuzz::buildSmallIndex(commands);
    commands.cleanup();
    settings.kolvoDirectory = kolvofuzz::scratch() + "kolvo";
    settings.idleSeconds = 1;
    settings.outputBytes = 1 << 16;
    settings.loginDelayMilliseconds = 0;
    // "secret" at the lowest yescrypt cost: a login is checked for every input.
    const std::string hash = "$y$j75$ywSzX6QxV6OWa/EUQ75LD1$MiPHMMi6L5PjvIYI7GFmix7FCgV3GE8wgcodilPsfP9";
    std::string users = settings.kolvoDirectory + "/" + QvServeUsers::kFileName;
    kolvofuzz::writeFile(users, "# users\nfuzzer:" + hash + ":default other\n");
    chmod(users.c_str(), 0600);
  }
  QvServeSettings settings;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Served served;
  std::string input(reinterpret_cast<const char*>(data), size);
  std::string sent;
  if (!input.empty() && input[0] == '!') {
    sent = input.substr(1);
  } else {
    size_t end = input.find('\n');
    sent = qvFrameMessage(input.substr(0, end));
    if (end != std::string::npos) sent += qvFrameMessage(input.substr(end + 1));
  }
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) std::abort();
  // The whole request fits the socket's buffer; the client then says no more comes.
  if (write(ends[0], sent.data(), sent.size()) != static_cast<ssize_t>(sent.size())) std::abort();
  shutdown(ends[0], SHUT_WR);
  qvServeSession(ends[1], served.settings);
  close(ends[0]);
  close(ends[1]);
  return 0;
}
