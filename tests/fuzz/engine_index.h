// What the fuzz targets of the analyzers and containers share: an index in a folder of
// its own (removed with it), with letters, digits and the Latin-1 letters as word
// characters, the built-in analyzers and an include pattern for every kind of file the
// engine reads; and the reading of fuzz-chosen chunk sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/index/kolvo_index.h"

namespace kolvofuzz {

class EngineIndex {
 public:
  EngineIndex();
  // The index the inputs of a target share. Making one costs far more than most inputs,
  // so it is made anew only every so many inputs, which keeps its tables small.
  static EngineIndex& shared();
  ~EngineIndex();
  EngineIndex(const EngineIndex&) = delete;
  EngineIndex& operator=(const EngineIndex&) = delete;

  CKolvoIndex& operator*() { return *index; }
  CKolvoIndex* operator->() { return index.get(); }
  CKolvoIndex* get() { return index.get(); }
  // A folder for the files of inputs; holds nothing at first.
  std::string docs() const { return folder + "docs/"; }
  // Writes name into a new folder, walks that folder as a build does, then makes the
  // display text of every entry below it (a member extracted level by level), as
  // "filecontents" does; the folder is removed again.
  void buildAndShow(const std::string& name, std::string_view bytes);

 private:
  std::string folder;
  int walks = 0;
  std::unique_ptr<CKolvoIndex> index;
};

// Takes the bytes of an input from the front: header bytes first, then the rest.
class InputBytes {
 public:
  InputBytes(const uint8_t* data, size_t size) : at(data), left(size) {}
  // The next byte, or 0 when none is left.
  uint8_t take() {
    if (left == 0) return 0;
    --left;
    return *at++;
  }
  std::string_view rest() const { return {reinterpret_cast<const char*>(at), left}; }

 private:
  const uint8_t* at;
  size_t left;
};

// A stream over bytes handed out in chunks whose sizes cycle through three chosen
// sizes (1 to 255 bytes, or as much as asked for a size of 0), as a file read in short
// reads would be.
class ChunkedBytes {
 public:
  ChunkedBytes(std::string_view bytes, const uint8_t sizes[3]) : text(bytes), cuts{sizes[0], sizes[1], sizes[2]} {}
  // At most size bytes into buffer; 0 at the end.
  size_t read(char* buffer, size_t size);
  // Back to the first byte and the first size.
  void rewind() {
    position = 0;
    turn = 0;
  }

 private:
  std::string_view text;
  uint8_t cuts[3];
  size_t position = 0;
  size_t turn = 0;
};

}  // namespace kolvofuzz
