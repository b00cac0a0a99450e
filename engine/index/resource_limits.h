// Every bound the engine puts on work: depth, bytes, time and memory. Kept in one
// place so a reader sees at once how far one hostile file can make the engine go;
// the walk, the converters, the PDF reader, the archives and the mail use them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kolvo::limits {

inline constexpr uint64_t MiB = 1ULL << 20;

// The walk descends at most this many folders below a root.
inline constexpr int walkDepth = 1000;

// One run of an external converter.
inline constexpr double converterSeconds = 120;
inline constexpr unsigned long long converterMemoryBytes = 2ULL << 30;

// A PDF stream: the bytes collected up to "endstream" and the bytes inflated from it.
inline constexpr uint64_t pdfStreamBytes = 64 * MiB;
inline constexpr uint64_t pdfInflatedBytes = 64 * MiB;
// The PDF reader keeps its buffers from one file to the next while they hold no more.
inline constexpr uint64_t pdfKeptBufferBytes = 4 * MiB;

// Archive members and mail copies written to temporary or cache files: one member,
// and everything written for one top-level container across its nested members.
inline constexpr uint64_t memberBytes = 256 * MiB;
inline constexpr uint64_t containerBytes = 1024 * MiB;
// Containers open at most this many levels deep; a deeper member is recorded only.
inline constexpr int containerDepth = 16;
// A member's name held in a record of its own (a tar long name, a pax path).
inline constexpr uint64_t memberNameBytes = 64 * 1024;

// HTML and RTF: a character reference, escape or control word cut by a chunk end waits
// for the next chunk to be read whole when it is shorter than this.
inline constexpr size_t markupSequenceBytes = 64;
// The longest entity name a reference may give (the '&' and ';' not counted).
inline constexpr size_t entityNameBytes = 31;

// Local referrals nest at most this deep: an index whose referrals lead back to it
// would otherwise start copies of the program without end.
inline constexpr int referralDepth = 8;
// Referrals and the referral server. A framed message longer than this drops the
// connection before anything of it is kept.
inline constexpr uint64_t referralFrameBytes = 64 * MiB;
// The server's answer to one request (the output of its commands) is cut off here.
inline constexpr uint64_t serveOutputBytes = 64 * MiB;
// One connection to the server: its whole life, the longest silence of the client,
// and how many are served at once; a refused login is answered only after the delay.
inline constexpr int serveConnectionSeconds = 60;
inline constexpr int serveIdleSeconds = 10;
inline constexpr int serveConnections = 16;
inline constexpr int serveLoginDelayMilliseconds = 500;
// Connections the kernel holds for the server before it accepts them.
inline constexpr int serveListenBacklog = 64;
// The users file of the server is read only up to this size.
inline constexpr uint64_t serveUsersFileBytes = 1 * MiB;

}  // namespace kolvo::limits
