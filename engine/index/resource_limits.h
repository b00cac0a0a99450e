// Every bound the engine puts on work: depth, bytes, time and memory. Kept in one
// place so a reader sees at once how far one hostile file can make the engine go;
// the walk, the converters, the PDF reader, the archives and the mail use them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kolvo::limits {

inline constexpr uint64_t MiB = 1ULL << 20;

// A table's bucket heads in "hash" of at least this many bytes are mapped at open rather
// than read, so that opening an index does not grow with its count of words.
inline constexpr uint64_t mappedBucketBytes = 64 * 1024;
// File numbers the file table remembers as confirmed entries while it has no name
// accelerator, and how far it steps from one of them to tell whether a number is one.
inline constexpr size_t confirmedFileNumbers = 65536;
inline constexpr uint32_t fileStepBytes = 64 * 1024;

// The walk descends at most this many folders below a root.
inline constexpr int walkDepth = 1000;

// A display that runs this long reports "Decoding" and looks for a halt, and again
// after each such interval; a quick display never reports, however the clock ticks.
inline constexpr double decodingReportSeconds = 1;

// One run of an external converter.
inline constexpr double converterSeconds = 120;
inline constexpr unsigned long long converterMemoryBytes = 2ULL << 30;

// A PDF stream: the bytes collected up to "endstream" and the bytes inflated from it.
inline constexpr uint64_t pdfStreamBytes = 64 * MiB;
inline constexpr uint64_t pdfInflatedBytes = 64 * MiB;
// The PDF reader keeps its buffers from one file to the next while they hold no more.
inline constexpr uint64_t pdfKeptBufferBytes = 4 * MiB;
// The text of PDF streams extracted ahead of indexing and not yet indexed: the reader
// waits above this, unless it holds only one stream's.
inline constexpr uint64_t pdfTextAheadBytes = 16 * MiB;

// Archive members and mail copies written to temporary or cache files: one member,
// and everything written for one top-level container across its nested members.
inline constexpr uint64_t memberBytes = 256 * MiB;
inline constexpr uint64_t containerBytes = 1024 * MiB;
// Containers open at most this many levels deep; a deeper member is recorded only.
inline constexpr int containerDepth = 16;
// A member's name held in a record of its own (a tar long name, a pax path).
inline constexpr uint64_t memberNameBytes = 64 * 1024;
// A mail attachment's file name, and the numbered sections it may be given in.
inline constexpr size_t mailFileNameBytes = 1024;
inline constexpr size_t mailFileNameSections = 64;
// How many senders and seconds one mailbox's split remembers to tell apart messages of
// one sender within one second.
inline constexpr size_t mailNamesRemembered = 1 << 20;

// HTML and RTF: a character reference, escape or control word cut by a chunk end waits
// for the next chunk to be read whole when it is shorter than this.
inline constexpr size_t markupSequenceBytes = 64;
// The longest entity name a reference may give (the '&' and ';' not counted).
inline constexpr size_t entityNameBytes = 31;

// The check of phrases and near words reads candidate files on at most this many threads.
inline constexpr unsigned contentsCheckThreads = 4;

// Memory of a build. The link fill writes records all over the links table: it fills
// the table a window of about this many bytes at a time and lets go of each window's
// pages when it is done, so that they stay in the page cache, not in the process.
inline constexpr uint32_t linkFillWindowBytes = 24 * MiB;
// The windows after the first are filled on this many threads at once, each holding
// one window's pages: the fill waits on memory, and two cores wait side by side.
inline constexpr unsigned linkFillThreads = 2;
// The temporary links are read once; the fill lets go of what it has read every this
// many bytes. The links of the windows after the first wait in spill files, each
// written and read back through a buffer of this many bytes.
inline constexpr uint32_t linkReadReleaseBytes = 8 * MiB;
// The temporary links are read in parts at once, on the threads of the fill; a part
// starts at a group of links that the table marks about every this many bytes.
inline constexpr uint32_t linkReadMarkBytes = 4 * MiB;
inline constexpr size_t linkSpillBufferBytes = 64 * 1024;

// An update takes the statuses of its stored entries ahead of its visit, a window of
// entries at a time: a small first window, which the visit waits for, then larger ones,
// each taken on this many threads besides the visit's own while the visit goes through
// the window before. Status calls mostly wait on the disk when the inode cache is cold,
// so there are more threads than cores.
inline constexpr size_t statusFirstWindow = 2048;
inline constexpr size_t statusWindow = 16384;
inline constexpr unsigned updateStatusThreads = 4;
// A thread taking statuses is started for each this many entries of a window at most.
inline constexpr size_t statusesPerThread = 256;
// Statuses are asked through an io_uring this many at a time, one system call for all,
// and the kernel takes them on at most this many worker threads per ring.
inline constexpr unsigned statusBatchSize = 64;
inline constexpr unsigned statusRingWorkers = 2;
// A ring that takes none of a batch's requests this many times running is given up for
// that batch, whose statuses are then asked one by one.
inline constexpr unsigned statusRingIdleAttempts = 16;

// An update compares a modified folder's listing with its stored entries in table order,
// passing over at most this many obsolete entries at a time before it looks a name up.
inline constexpr size_t listingObsoleteSkipped = 64;

// A file with more parents than this (folders and archives) has a damaged chain.
inline constexpr int fileAncestors = 99;

// Checking many file numbers at once walks this many bucket chains side by side; with
// at least one number for this many bytes of the table, it walks the entries in order.
inline constexpr uint32_t fileWalkBytesPerNumber = 512;
// Entries such a walk keeps in order, to tell later numbers by halving (4 bytes each).
inline constexpr size_t walkedFileNumbers = size_t{1} << 22;
// Bucket chains walked side by side when the numbers are fewer.
inline constexpr size_t fileChainWalksAtOnce = 16;
// Additions to an opened file table that walk their bucket's chain for its tail; the
// next takes every chain's tail in one walk.
inline constexpr size_t fileChainTailWalks = 64;
// An opened file table answers its first name lookups by walking the stored chains, so
// that an update of a few paths does not build the name accelerator over every entry:
// the walks may visit one entry for each this many bytes of the table (about the
// accelerator's own cost) before the accelerator is built.
inline constexpr uint32_t fileChainBytesPerStep = 32;

// The first records of each batch of a word's files are read through the file, this many
// at most: a search in a fresh process touches the short blocks of thousands of words
// spread over the links, and a read costs far less than mapping a page for each.
inline constexpr uint32_t linkRecordsARead = 32;
// A page of an opened links table is read through the file this many times, and mapped
// after that: a process that searches again and again reads its pages in place.
inline constexpr uint8_t linkPageFileReads = 4;
inline constexpr size_t linkPageBytes = 4096;
// A walk of the word table for the words of a prefix looks at this many words a call,
// so that its caller can look for a halt between calls.
inline constexpr uint32_t prefixWalkSteps = 65536;
// The sorted order of the words is made anew when a store finds more entries added
// after it than its own count divided by this: the walk of those entries a prefix
// search still makes stays a small part of what the order spares.
inline constexpr uint32_t wordOrderTailDivisor = 32;

// The integrity check describes at most this many damages one by one.
inline constexpr int checkDamageLines = 100;

}  // namespace kolvo::limits
