#include "app/platform/halt_request.h"

#include <signal.h>

#include <memory>

namespace {

volatile sig_atomic_t gHaltRequested = 0;

void onInterrupt(int) { gHaltRequested = 1; }

}  // namespace

void qvRequestHalt() { gHaltRequested = 1; }

bool qvHaltRequested() { return gHaltRequested != 0; }

void qvClearHaltRequest() { gHaltRequested = 0; }

QvHaltScope::QvHaltScope() : previous(std::make_unique<struct sigaction>()) {
  qvClearHaltRequest();
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  // Reads and waits go on after the interrupt; the loops notice the request.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, previous.get());
}

QvHaltScope::~QvHaltScope() {
  sigaction(SIGINT, previous.get(), nullptr);
}
