// Every bound the program puts on referral work: how deep local referrals nest, how
// large a framed message may be, and what one connection to the referral server may
// take. The referrals and kolvoserve use them; the engine's own bounds are its own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kolvo::limits {

inline constexpr uint64_t referralMiB = 1ULL << 20;

// Local referrals nest at most this deep: an index whose referrals lead back to it
// would otherwise start copies of the program without end.
inline constexpr int referralDepth = 8;
// While a search waits for referrals and nothing is left to watch (a child's output has
// ended, the child not yet reaped), it looks again after this long.
inline constexpr int referralReapMilliseconds = 5;
// Referrals and the referral server. A framed message longer than this drops the
// connection before anything of it is kept.
inline constexpr uint64_t referralFrameBytes = 64 * referralMiB;
// The server's answer to one request (the output of its commands) is cut off here.
inline constexpr uint64_t serveOutputBytes = 64 * referralMiB;
// One connection to the server: its whole life, the longest silence of the client,
// and how many are served at once; a refused login is answered only after the delay.
inline constexpr int serveConnectionSeconds = 60;
inline constexpr int serveIdleSeconds = 10;
inline constexpr int serveConnections = 16;
inline constexpr int serveLoginDelayMilliseconds = 500;
// Connections the kernel holds for the server before it accepts them.
inline constexpr int serveListenBacklog = 64;
// A login the server verified is taken again without a new yescrypt check for this
// long, for at most this many users at once; a child reports it in one line this long.
inline constexpr int serveLoginCacheSeconds = 300;
inline constexpr std::size_t serveLoginCacheEntries = 256;
inline constexpr std::size_t serveLoginRecordBytes = 512;
// The server keeps at most this many indexes open for its children; a request for
// another opens it itself.
inline constexpr std::size_t serveOpenIndexes = 32;
// The users file of the server is read only up to this size.
inline constexpr uint64_t serveUsersFileBytes = 1 * referralMiB;

}  // namespace kolvo::limits
