// Searches through a network referral, measured from outside: over a generated tree
// (100,000 files by default) kolvocmd builds an index, and kolvoserve, started
// here on a free loopback port, serves it. The four query kinds of kolvocmd_bench run
// first on the index itself and then from an empty index whose one network referral
// is that server; the difference of the medians is what the referral adds. Last, eight
// clients at once send the referral's requests straight to the server for a few
// seconds per query kind, giving requests per second.
//
// CPU time is reported beside wall time, since the machine may be shared: for the
// searches the client's and the server's (with its ended children) apart, per request.
//
// Usage: referral_bench [--files N] [--repeat N] [--seconds N] [--clients N]
// When run as root the server runs as "nobody", as in the tests.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/index/kolvo_lib.h"
#include "app/referrals/referral_frame.h"
#include "bench/bench_tree.h"
#include "bench/kolvocmd_session.h"
#include "bench/table_bench_support.h"
#include "tests/cli/serve_fixture.h"

namespace {

namespace fs = std::filesystem;

struct Options {
  int files = 100000;
  int repeat = 20;
  int seconds = 3;
  int clients = 8;
};

Options parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    long value = std::strtol(argv[i + 1], nullptr, 10);
    if (value <= 0 || value > 100000000) throw std::runtime_error("not a positive number after " + name);
    if (name == "--files") options.files = static_cast<int>(value);
    else if (name == "--repeat") options.repeat = static_cast<int>(value);
    else if (name == "--seconds") options.seconds = static_cast<int>(value);
    else if (name == "--clients") options.clients = static_cast<int>(value);
    else throw std::runtime_error("unknown option " + name);
  }
  return options;
}

double percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  std::size_t rank = static_cast<std::size_t>(std::ceil(share * values.size()));
  return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

// The machine's load averages: on a shared machine, wall times mean little without them.
std::string loadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  file >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// The last "Found ..." line of an answer: the merged count.
std::string foundLine(const std::string& text) {
  std::size_t found = text.rfind("Found ");
  if (found == std::string::npos) return "(no Found line)";
  return text.substr(found, text.find('\n', found) - found);
}

// User and system time of a process, with its ended and reaped children when asked.
double cpuSeconds(pid_t pid, bool withChildren) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::vector<std::string> field;
  for (std::string word; fields >> word;) field.push_back(word);
  // After the name: state is field 3 of the file, utime 14, stime 15, cutime 16, cstime 17.
  if (field.size() < 15) return 0;
  double ticks = std::stod(field[11]) + std::stod(field[12]);
  if (withChildren) ticks += std::stod(field[13]) + std::stod(field[14]);
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Query {
  const char* label;
  std::string phrase;
};

std::vector<double> timeQuery(kolvobench::KolvocmdSession& session, const Query& query, int repeat,
                              std::string& answer) {
  std::vector<double> times;
  for (int run = 0; run < repeat; ++run) {
    auto got = session.run("find " + query.phrase);
    times.push_back(got.seconds * 1000);
    if (run == 0) answer = got.text;
  }
  return times;
}

// Reads one whole frame without decoding it (the threads must not call the engine).
bool readFrame(int fd) {
  std::string buffer;
  char chunk[65536];
  for (;;) {
    if (!buffer.empty()) {
      std::size_t digits = std::stoul(buffer.substr(0, 1), nullptr, 16);
      if (buffer.size() > digits) {
        std::size_t length = std::stoul(buffer.substr(1, digits), nullptr, 16);
        if (buffer.size() >= 1 + digits + length) return true;
      }
    }
    ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(got));
  }
}

// One whole request of a referral: login, commands, answer.
bool request(int port, const std::string& login, const std::string& commands) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool done = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              send(fd, login.data(), login.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(login.size()) &&
              readFrame(fd) &&
              send(fd, commands.data(), commands.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(commands.size()) &&
              readFrame(fd);
  close(fd);
  return done;
}

int benchmark(const Options& options) {
  QvKolvoLib::loadLibrary(KOLVO_LIBRARY_PATH);
  kolvobench::ScratchDir scratch;
  std::string root = scratch.slashed();
  std::string kolvo = root + "kolvo", front = root + "front", home = root + "home", work = root + "work",
              empty = root + "empty";
  for (const std::string& folder : {kolvo, front, home, work, empty}) fs::create_directories(folder);
  std::ofstream(kolvo + "/skipfile.txt");
  std::ofstream(front + "/skipfile.txt");
  kolvobench::BenchTree tree(root + "tree", options.files);
  tree.generate();
  sync();
  tree.warm();

  std::printf("tree: %d files made\n", tree.fileCount());
  // Each session keeps to its default index ("default"), whose object holds the
  // session's answer marker: one in the served kolvo directory, one in the searching one.
  kolvobench::KolvocmdSession session(KOLVOCMD_PATH, kolvo, home, work);
  for (const std::string& command : {std::string("addinclude *.txt"), "addroot \"" + tree.root() + "\"",
                                     std::string("build")})
    session.run(command);
  const std::string password = "bench-password";
  std::string setPassword = "printf '%s\\n' " + password + " | env KOLVODIR='" + kolvo + "' '" KOLVOSERVE_PATH +
                            "' --set-password bench default";
  if (std::system(setPassword.c_str()) != 0) throw std::runtime_error("kolvoserve --set-password failed");
  kolvotest::ServeProcess server(root.substr(0, root.size() - 1), kolvo,
                                 {"--max-connections", std::to_string(options.clients * 2)});
  if (server.port() == 0) throw std::runtime_error("kolvoserve did not start:\n" + server.log());
  std::printf("tree: %d files; kolvoserve on 127.0.0.1:%d; load average %s\n", tree.fileCount(), server.port(),
              loadAverage().c_str());

  using kolvobench::PlantedWords;
  std::string a = PlantedWords::commonA, b = PlantedWords::commonB;
  const std::vector<Query> queries = {{"rare word", PlantedWords::rare},
                                      {"common word", a},
                                      {"two common words", a + " " + b},
                                      {"prefix wildcard", std::string(PlantedWords::prefix) + "*"}};
  std::vector<double> localP50, localCpu;
  for (const Query& query : queries) {
    std::string answer;
    double cpu = cpuSeconds(session.processId(), false);
    localP50.push_back(percentile(timeQuery(session, query, options.repeat, answer), 0.5));
    localCpu.push_back((cpuSeconds(session.processId(), false) - cpu) * 1000 / options.repeat);
  }
  session.finish();
  kolvobench::KolvocmdSession searching(KOLVOCMD_PATH, front, home, work);
  for (const std::string& command : {std::string("addinclude *.txt"), "addroot \"" + empty + "\"", std::string("build")})
    searching.run(command);
  std::string path = "/referrals.net";
  for (const std::string& command :
       {std::string("/referrals create QvNetReferral net"), path + " setvalue indexName default",
        path + " setvalue serverIP 127.0.0.1", path + " setvalue port " + std::to_string(server.port()),
        path + " setvalue userName bench", path + " setvalue password " + password,
        path + " setvalue max100msLoops 600"})
    searching.run(command);
  std::printf("%-17s %12s %12s %12s %12s %12s %12s %13s %13s  %s\n", "query", "local p50", "referral p50",
              "referral p95", "added p50", "added p95", "local CPU", "client CPU", "server CPU", "merged answer");
  for (std::size_t i = 0; i < queries.size(); ++i) {
    std::string answer;
    double clientCpu = cpuSeconds(searching.processId(), false), serverCpu = cpuSeconds(server.pid(), true);
    std::vector<double> times = timeQuery(searching, queries[i], options.repeat, answer);
    // The server reaps its children within a fifth of a second.
    usleep(300000);
    clientCpu = (cpuSeconds(searching.processId(), false) - clientCpu) * 1000 / options.repeat;
    serverCpu = (cpuSeconds(server.pid(), true) - serverCpu) * 1000 / options.repeat;
    double p50 = percentile(times, 0.5);
    std::printf("%-17s %9.2f ms %9.2f ms %9.2f ms %9.2f ms %9.2f ms %9.2f ms %10.2f ms %10.2f ms  %s (target: added p50 < 30 ms: %s)\n",
                queries[i].label, localP50[i], p50, percentile(times, 0.95), p50 - localP50[i],
                percentile(times, 0.95) - localP50[i], localCpu[i], clientCpu, serverCpu, foundLine(answer).c_str(),
                p50 - localP50[i] < 30 ? "met" : "MISSED");
  }
  searching.finish();
  std::printf("load average %s\n", loadAverage().c_str());

  // The requests are framed here, once: the client threads only send and count.
  std::string login = qvFrameMessage("default:bench:" + password);
  for (const Query& query : queries) {
    std::string commands = qvFrameMessage(
        "open default\n/criteria clear\n/criteria setValue maxBufferSize 10000000\n/criteria setValue maxResults 1000\n"
        "/criteria setValue nearCount 8\nfind " + query.phrase + "\nlistresults 10000");
    std::atomic<long> answered{0}, failed{0};
    double serverCpu = cpuSeconds(server.pid(), true);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.seconds);
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < options.clients; ++c) {
      clients.emplace_back([&] {
        while (std::chrono::steady_clock::now() < deadline) (request(server.port(), login, commands) ? answered : failed)++;
      });
    }
    for (auto& client : clients) client.join();
    double seconds = kolvobench::secondsSince(start);
    usleep(300000);
    double cpu = cpuSeconds(server.pid(), true) - serverCpu;
    std::printf("%-17s %d clients at once: %.1f requests/s (%ld answered, %ld failed in %.1f s; server CPU %.2f ms a request)\n",
                query.label, options.clients, answered / seconds, answered.load(), failed.load(), seconds,
                answered > 0 ? cpu * 1000 / static_cast<double>(answered.load()) : 0.0);
  }
  std::printf("load average %s\n", loadAverage().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  try {
    return benchmark(parseOptions(argc, argv));
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "referral_bench: %s\n", error.what());
    return 1;
  }
}
