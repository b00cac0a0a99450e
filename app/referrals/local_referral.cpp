#include "app/referrals/local_referral.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/commands/text_tools.h"
#include "app/index/kolvo_lib.h"
#include "app/referrals/referral_limits.h"

namespace {

// The console's prompt, printed before it reads each line.
constexpr std::string_view kPrompt = "> ";

// Set by useProgram; empty for the running program.
std::string gProgram;

// Each child learns how deep it runs below the program the user started.
constexpr const char* kDepthVariable = "KOLVO_REFERRAL_DEPTH";

int referralDepth() {
  const char* text = std::getenv(kDepthVariable);
  return text ? std::atoi(text) : 0;
}

// Removes the prompts the child's console printed: one before the answer of every line
// sent. The last stands at the very end (the one before "quit"); the others are the
// first prompt lines, since only the last command's answer (a file's text) can hold a
// line that looks like one.
std::string withoutPrompts(std::string text, std::size_t count) {
  if (count == 0) return text;
  std::string last = std::string(kPrompt) + "\n";
  if (qvEndsWith(text, last) && (text.size() == last.size() || text[text.size() - last.size() - 1] == '\n')) {
    text.resize(text.size() - last.size());
    --count;
  }
  std::string kept;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    std::size_t next = end == std::string::npos ? text.size() : end + 1;
    std::string_view line(text.data() + at, (end == std::string::npos ? text.size() : end) - at);
    if (count > 0 && line == kPrompt) {
      --count;
    } else {
      kept.append(text, at, next - at);
    }
    at = next;
  }
  return kept;
}

}  // namespace

std::string qvShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string qvSelfCommandLine() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return qvShellQuoted(error ? std::string("kolvocmd") : self.string());
}

void QvReferralShell::poll() {
  mProcess.collect();
  mCommandResult += mProcess.takeOutput();
}

bool QvReferralShell::running() {
  poll();
  if (mProcess.running()) return true;
  // The child has ended: whatever is still in the pipe belongs to the answer.
  poll();
  return false;
}

QvLocalReferral::QvLocalReferral(const std::string& name, QvCommandParent& parent, const std::string& className)
    : QvReferral(name, parent, className) {}

void QvLocalReferral::run(const std::string& commandText) {
  doneWithOutput();
  int depth = referralDepth();
  if (depth >= kolvo::limits::referralDepth) {
    showWarning(qvTooDeep.text({name(), std::to_string(depth)}));
    return;
  }
  mShell = std::make_unique<QvReferralShell>(mMax100msLoops);
  std::string text = commandText + "\nquit\n";
  mLinesSent = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  try {
    mShell->start(std::string("export ") + kDepthVariable + "=" + std::to_string(depth + 1) + "; " +
                  (gProgram.empty() ? qvSelfCommandLine() : gProgram));
  } catch (const std::system_error&) {
    mShell->mCommandResult = qvReadError.text();
    mLinesSent = 0;
    return;
  }
  mShell->write(text);
}

void QvLocalReferral::useProgram(const std::string& commandLine) { gProgram = commandLine; }

bool QvLocalReferral::isRunning() { return mShell && mShell->running(); }

std::string QvLocalReferral::getOutput() {
  if (!mShell) return {};
  return withoutPrompts(mShell->mCommandResult, mLinesSent);
}

void QvLocalReferral::doneWithOutput() {
  // The shell's process, if it still runs, ends with it.
  mShell.reset();
}

void QvLocalReferral::Poll() {
  if (mShell) mShell->poll();
}

void QvLocalReferral::cleanup() {
  doneWithOutput();
  QvReferral::cleanup();
}
