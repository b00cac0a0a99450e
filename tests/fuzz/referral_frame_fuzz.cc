// Referral frames as they arrive on a connection, appended in chunks of three sizes to a
// frame reader that hands out messages until it wants more or finds the stream broken.
// The input: a mode byte, the three chunk sizes, then either the stream as it stands
// (mode '!') or lines that are each sent as one framed message. Each message is checked
// as the server checks a request's commands, and framed again must read back the same.
#include <string>

#include "app/commands/text_tools.h"
#include "app/referrals/referral_commands.h"
#include "app/referrals/referral_frame.h"
#include "tests/fuzz/engine_index.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kolvofuzz::bindEngine();  // the cipher is the engine's
  kolvofuzz::InputBytes input(data, size);
  bool raw = input.take() == '!';
  uint8_t sizes[3] = {input.take(), input.take(), input.take()};
  std::string framed;
  if (!raw) {
    for (const std::string& line : qvSplit(std::string(input.rest()), '\n')) framed += qvFrameMessage(line);
  }
  std::string_view stream = raw ? input.rest() : std::string_view(framed);
  kolvofuzz::ChunkedBytes chunks(stream, sizes);
  QvFrameReader reader;
  char chunk[256];
  std::string message;
  bool broken = false;
  for (size_t got = chunks.read(chunk, sizeof chunk); got > 0 && !broken; got = chunks.read(chunk, sizeof chunk)) {
    reader.append(chunk, got);
    for (;;) {
      QvFrameReader::Result result = reader.next(message);
      if (result == QvFrameReader::Result::broken) broken = true;
      if (result != QvFrameReader::Result::message) break;
      qvRefusedReferralCommand(message, [](const std::string& name) { return name == "default"; });
      QvFrameReader again;
      std::string frame = qvFrameMessage(message);
      again.append(frame.data(), frame.size());
      std::string read;
      if (again.next(read) != QvFrameReader::Result::message || read != message || again.buffered() != 0)
        __builtin_trap();
    }
  }
  // The Base64 and cipher layers alone, on the stream as it is.
  if (auto text = qvDecipherFromBase64(stream)) {
    if (qvDecipherFromBase64(qvEncipherToBase64(*text)) != text) __builtin_trap();
  }
  if (auto bytes = qvBase64Decode(stream)) {
    if (qvBase64Decode(qvBase64Encode(*bytes)) != bytes) __builtin_trap();
  }
  return 0;
}
