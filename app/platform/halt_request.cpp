#include "app/platform/halt_request.h"

#include <signal.h>

#include <memory>

namespace {

volatile sig_atomic_t gHaltRequested = 0;

volatile sig_atomic_t gStopRequested = 0;

void onInterrupt(int) { gHaltRequested = 1; }

void onStop(int) { gStopRequested = 1; }

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

QvStopScope::QvStopScope()
    : previousInterrupt(std::make_unique<struct sigaction>()), previousTerminate(std::make_unique<struct sigaction>()) {
  gStopRequested = 0;
  struct sigaction action {};
  action.sa_handler = onStop;
  sigemptyset(&action.sa_mask);
  // Without SA_RESTART a wait for events returns at once, and the stop is seen.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, previousInterrupt.get());
  sigaction(SIGTERM, &action, previousTerminate.get());
}

QvStopScope::~QvStopScope() {
  sigaction(SIGINT, previousInterrupt.get(), nullptr);
  sigaction(SIGTERM, previousTerminate.get(), nullptr);
}

bool QvStopScope::stopRequested() { return gStopRequested != 0; }
