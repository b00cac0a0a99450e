// The check of a quoted phrase or a near condition over candidate files: each file's
// display text is streamed through its analyzer a chunk at a time and its words through
// a HitScan, stopping at the first hit, with nothing of the text kept. The search side
// calls it through kidxCheckContents before it would make a file's contents object.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

class CKolvoIndex;

namespace kolvo {

enum ContentsVerdict : char {
  lacksHit = 0,   // no hit, or the file cannot be read or shown
  holdsHit = 1,
  askContents = 2  // decide through the file's contents object (archive members,
                   // analyzers that read their files their own way)
};

// Writes one verdict per file, each exactly what the contents object made with the same
// arguments would answer for a hit of pattern. Ordinary files are read on up to threads
// threads (0: one per core, within the limit); each verdict lands at its file's place,
// so the answer is the same for any number of threads. Reports nothing to the callbacks.
void checkContents(CKolvoIndex& index, const uint32_t* files, size_t count, uint32_t maxBytes, int wrapWidth,
                   bool stripMarkup, int nearDistance, std::string_view pattern, unsigned threads, char* verdicts);

// The bytes whose display keeps a text's words as they stand, given the bytes that begin
// (start) and go on with (part) a word; all zero when the index's masks allow no such
// byte. The check reads the words of files made of them straight from their bytes.
std::array<unsigned char, 256> plainDisplayBytes(const CKolvoIndex& index, const std::array<unsigned char, 256>& start,
                                                 const std::array<unsigned char, 256>& part);

}  // namespace kolvo
