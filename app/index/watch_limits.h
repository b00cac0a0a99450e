// Every bound the program puts on watching an index's trees: how long it lets the tree
// settle before an update, how long a busy tree may put one off, and how often folders
// it cannot watch are brought up to date by a full update. The "watch" command uses them,
// and builds and updates waiting for one another.
#pragma once

#include <cstddef>

namespace kolvo::limits {

// An update runs once the tree has been quiet this long...
inline constexpr int watchQuietMilliseconds = 2000;
// ...but never later than this after the first change it takes in.
inline constexpr int watchLongestWaitMilliseconds = 30000;
// Folders beyond the per-user limit of watches, and roots that went away, are taken by a
// full update this often.
inline constexpr int watchFallbackSeconds = 300;
// The longest wait for events, so that a stop or a due update is never put off longer.
inline constexpr int watchPollMilliseconds = 250;
// The line of an update names at most this many of its paths.
inline constexpr std::size_t watchLinePaths = 3;

// A build or update waiting for another program's looks this often whether the user
// asked it to stop.
inline constexpr int lockPollMilliseconds = 100;

// Opening an index tries again this many times in all when a watch replaced the build it
// was about to open.
inline constexpr int openAttempts = 3;

}  // namespace kolvo::limits
