// The watch's inotify calls with the kernel's shortfalls forced: the per-user limit of
// watches met after a number of them, and an overflow in place of the next events read.
// The tree watch tests and the watch command's tests use it.
#pragma once

#include <sys/inotify.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "app/platform/tree_watch.h"

namespace kolvotest {

class LimitedWatchCalls : public QvWatchCalls {
 public:
  int addWatch(int descriptor, const char* path, uint32_t mask) override {
    if (allowed-- <= 0) {
      errno = ENOSPC;
      return -1;
    }
    return QvWatchCalls::addWatch(descriptor, path, mask);
  }
  ssize_t read(int descriptor, void* buffer, size_t size) override {
    if (!overflowNext.exchange(false)) return QvWatchCalls::read(descriptor, buffer, size);
    // The events themselves are dropped, as the kernel drops them.
    char discard[4096];
    while (QvWatchCalls::read(descriptor, discard, sizeof discard) > 0) {
    }
    inotify_event event{};
    event.wd = -1;
    event.mask = IN_Q_OVERFLOW;
    std::memcpy(buffer, &event, sizeof event);
    return sizeof event;
  }
  int allowed = 1000;
  std::atomic<bool> overflowNext{false};
};

}  // namespace kolvotest
