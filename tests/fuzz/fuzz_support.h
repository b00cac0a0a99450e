// What the fuzz targets share: a scratch folder that lives as long as the process, and
// the engine bound from the program itself (every target links it in). Each target is
// one file defining LLVMFuzzerTestOneInput; libFuzzer drives it under `make fuzz`, and
// seed_replay.cc feeds it the seeds of tests/fuzz/seeds/<target> in every test run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class QvCommandInterface;

namespace kolvofuzz {

// A folder made at the first call and removed when the process ends; ends with '/'.
const std::string& scratch();
// Writes bytes to the file at path (made or emptied first).
void writeFile(const std::string& path, std::string_view bytes);
// Binds the program's engine entries (linked into the target) and keeps the engine's
// reports quiet; the program's throw callback raises its command errors as usual.
void bindEngine();
// Binds the engine, makes a kolvo directory (KOLVODIR) and a small tree of text files
// in the scratch folder, and builds the index "default" of that tree with commands,
// which keep it open.
void buildSmallIndex(QvCommandInterface& commands);

}  // namespace kolvofuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
