// The one guard around every exported entry: the abort token and any other exception
// stop here, and the entry returns its documented "nothing" value instead.
#pragma once

#include <exception>
#include <new>
#include <utility>

#include "engine/kolvolib/error_reporting.h"

namespace kolvo {

// Runs body; if it aborts, returns nothing. A stray C++ exception is told to the throw
// callback first, as "NoMemory" for an exhausted allocator and "AssertionFailed" otherwise.
template <typename Result, typename Body>
Result guardEntry(Result nothing, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const AbortToken&) {
  } catch (const std::bad_alloc&) {
    try { throwKolvoError("NoMemory"); } catch (...) {}
  } catch (const std::exception& error) {
    try { throwKolvoError("AssertionFailed", error.what()); } catch (...) {}
  } catch (...) {
    try { throwKolvoError("AssertionFailed"); } catch (...) {}
  }
  return nothing;
}

template <typename Body>
void guardEntry(Body&& body) noexcept {
  guardEntry<int>(0, [&]() -> int { std::forward<Body>(body)(); return 0; });
}

}  // namespace kolvo
