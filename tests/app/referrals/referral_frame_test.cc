// The framing of referral messages: Base64 with its line breaks, the length header, and
// a reader that takes exactly one frame at a time and drops hostile or broken ones.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/index/kolvo_lib.h"
#include "app/referrals/referral_frame.h"
#include "app/referrals/referral_limits.h"

namespace {

// Base64 as the textbook gives it, one bit at a time, with the line feed after every
// 76 characters: what the table-driven encoder must agree with.
std::string plainBase64(const std::string& bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string symbols;
  unsigned value = 0;
  int bits = 0;
  for (unsigned char byte : bytes) {
    for (int bit = 7; bit >= 0; --bit) {
      value = (value << 1) | ((byte >> bit) & 1u);
      if (++bits == 6) {
        symbols += alphabet[value];
        value = 0;
        bits = 0;
      }
    }
  }
  if (bits != 0) symbols += alphabet[value << (6 - bits)];
  while (symbols.size() % 4 != 0) symbols += '=';
  std::string lines;
  for (std::size_t at = 0; at < symbols.size(); at += 76) {
    if (at != 0) lines += '\n';
    lines += symbols.substr(at, 76);
  }
  return lines;
}

std::string randomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

// The sizes where encoding and reading change step: a Base64 group, a line of it, a
// page, the reader's chunk of a socket, a megabyte.
const std::vector<std::size_t> kBoundarySizes = {0,     1,     2,     3,     4,     56,      57,      58,
                                                 4095,  4096,  4097,  65535, 65536, 65537,   1 << 20,
                                                 (1 << 20) + 1};

class ReferralFrameTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { QvKolvoLib::loadLibrary(KOLVO_LIBRARY_PATH); }
};

TEST_F(ReferralFrameTest, Base64EncodesAndDecodesWithLineBreaks) {
  struct Case {
    std::string bytes, encoded;
  };
  const std::vector<Case> cases = {
      {"", ""},          {"M", "TQ=="},           {"Ma", "TWE="},
      {"Man", "TWFu"},   {std::string("\xff\x00\x10", 3), "/wAQ"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(qvBase64Encode(c.bytes), c.encoded);
    EXPECT_EQ(qvBase64Decode(c.encoded), c.bytes);
  }
  std::string long_text(200, '\x7f');
  std::string encoded = qvBase64Encode(long_text);
  // 200 bytes make 268 symbols: three full lines of 76 and one of 40.
  ASSERT_EQ(encoded.size(), 268u + 3u);
  EXPECT_EQ(encoded[76], '\n');
  EXPECT_EQ(encoded[153], '\n');
  EXPECT_EQ(encoded[230], '\n');
  EXPECT_EQ(qvBase64Decode(encoded), long_text);
  // Carriage returns are line breaks too.
  EXPECT_EQ(qvBase64Decode("TW\r\nFu"), "Man");
  for (const char* bad : {"TWF", "TW=u", "T*Fu", "TWFu=", "===="}) EXPECT_FALSE(qvBase64Decode(bad)) << bad;
}

TEST_F(ReferralFrameTest, EncodingAgreesWithTheTextbookAtEveryBoundary) {
  for (std::size_t size : kBoundarySizes) {
    std::string bytes = randomBytes(size, static_cast<unsigned>(size));
    std::string encoded = qvBase64Encode(bytes);
    ASSERT_EQ(encoded, plainBase64(bytes)) << size;
    ASSERT_EQ(qvBase64Decode(encoded), bytes) << size;
    // Line breaks are skipped wherever they stand, as one or as CR LF.
    std::string crlf;
    for (char c : encoded) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_EQ(qvBase64Decode(crlf), bytes) << size;
    std::string joined;
    for (char c : encoded)
      if (c != '\n') joined += c;
    ASSERT_EQ(qvBase64Decode(joined), bytes) << size;
  }
  // A stray character or padding anywhere in a long text is refused, not skipped.
  std::string encoded = qvBase64Encode(randomBytes(300, 7));
  for (std::size_t at : {std::size_t{0}, std::size_t{5}, std::size_t{77}, encoded.size() - 5}) {
    for (char stray : {'*', '=', ' ', '\0'}) {
      std::string broken = encoded;
      broken[at] = stray;
      EXPECT_FALSE(qvBase64Decode(broken)) << at << " " << int(stray);
    }
  }
}

TEST_F(ReferralFrameTest, MessagesOfEverySizeComeBackThroughFramesAndCipher) {
  for (std::size_t size : kBoundarySizes) {
    std::string text = randomBytes(size, static_cast<unsigned>(size) + 1);
    std::string frame = qvFrameMessage(text);
    // The frame is the enciphered Base64 behind its header.
    std::string base64 = qvEncipherToBase64(text);
    ASSERT_EQ(frame, qvFrameBody(base64)) << size;
    ASSERT_EQ(qvDecipherFromBase64(base64), text) << size;
    QvFrameReader reader;
    reader.append(frame.data(), frame.size());
    std::string message = "left from before";
    ASSERT_EQ(reader.next(message), QvFrameReader::Result::message) << size;
    EXPECT_EQ(message, text) << size;
    EXPECT_EQ(reader.buffered(), 0u);
  }
}

TEST_F(ReferralFrameTest, TwoFramesSplitAtEveryByteGiveTheSameTwoMessages) {
  const std::vector<std::string> texts = {randomBytes(100, 1), "", randomBytes(61, 2)};
  std::string stream;
  for (const std::string& text : texts) stream += qvFrameMessage(text);
  for (std::size_t split = 0; split <= stream.size(); ++split) {
    QvFrameReader reader;
    std::vector<std::string> received;
    std::string message;
    for (std::string_view part : {std::string_view(stream).substr(0, split), std::string_view(stream).substr(split)}) {
      reader.append(part.data(), part.size());
      while (reader.next(message) == QvFrameReader::Result::message) received.push_back(message);
    }
    ASSERT_EQ(received, texts) << "split at " << split;
    ASSERT_EQ(reader.buffered(), 0u);
  }
}

TEST_F(ReferralFrameTest, AFrameUpToTheBoundIsReadAndOneBeyondIsNot) {
  // The largest text whose Base64, line breaks and all, still fits the bound.
  const std::size_t bound = kolvo::limits::referralFrameBytes;
  auto base64Size = [](std::size_t bytes) {
    std::size_t symbols = (bytes + 12) / 3 * 4;  // the salt's ten bytes come first
    return symbols + (symbols - 1) / 76;
  };
  std::size_t size = bound / 4 * 3;
  while (base64Size(size) > bound) --size;
  std::string text(size, 'x');
  std::string frame = qvFrameMessage(text);
  // Seven digits of length, within one Base64 group and line feed of the bound.
  ASSERT_EQ(frame[0], '7');
  std::size_t announced = std::stoul(frame.substr(1, 7), nullptr, 16);
  ASSERT_LE(announced, bound);
  ASSERT_GT(announced + 6, bound);
  QvFrameReader reader;
  reader.append(frame.data(), frame.size());
  std::string message;
  ASSERT_EQ(reader.next(message), QvFrameReader::Result::message);
  EXPECT_EQ(message.size(), size);
  EXPECT_EQ(message, text);
  message.clear();
  frame.clear();
  // Three more bytes make one more Base64 group, and the frame is refused from its header.
  std::string over = qvFrameMessage(std::string(size + 3, 'x'));
  QvFrameReader refusing;
  refusing.append(over.data(), 16);
  EXPECT_EQ(refusing.next(message), QvFrameReader::Result::broken);
}

TEST_F(ReferralFrameTest, HeaderCountsTheLengthDigitsInHexadecimal) {
  std::string base64(300, 'A');
  EXPECT_EQ(qvFrameBody(base64), "312C" + base64);
  EXPECT_EQ(qvFrameBody(std::string(15, 'A')).substr(0, 2), "1F");
  EXPECT_EQ(qvFrameBody(std::string(16, 'A')).substr(0, 3), "210");
  EXPECT_EQ(qvFrameBody(std::string(4096, 'A')).substr(0, 5), "41000");
}

TEST_F(ReferralFrameTest, MessagesComeBackOneFrameAtATime) {
  const std::vector<std::string> texts = {"", "OK", "index:user:pass:word", std::string(5000, 'z') + "\n\xc3\xa9;"};
  std::string stream;
  for (const std::string& text : texts) stream += qvFrameMessage(text);
  // Everything at once: still one message per frame, in order.
  QvFrameReader all;
  all.append(stream.data(), stream.size());
  std::string message;
  for (const std::string& text : texts) {
    ASSERT_EQ(all.next(message), QvFrameReader::Result::message);
    EXPECT_EQ(message, text);
  }
  EXPECT_EQ(all.next(message), QvFrameReader::Result::incomplete);
  // A byte at a time: nothing until a frame is whole.
  QvFrameReader trickle;
  std::vector<std::string> received;
  for (char c : stream) {
    trickle.append(&c, 1);
    while (trickle.next(message) == QvFrameReader::Result::message) received.push_back(message);
  }
  EXPECT_EQ(received, texts);
  EXPECT_EQ(trickle.buffered(), 0u);
}

TEST_F(ReferralFrameTest, HostileOrBrokenFramesAreRefusedBeforeTheyAreBuffered) {
  struct Case {
    std::string bytes;
    QvFrameReader::Result result;
  };
  const std::vector<Case> cases = {
      {"840000000", QvFrameReader::Result::broken},          // announces 1 GiB
      {"84000000", QvFrameReader::Result::incomplete},       // 64 MiB may come
      {"84000001", QvFrameReader::Result::broken},           // one byte over 64 MiB
      {"FFFFFFFFFFFFFFFFF", QvFrameReader::Result::broken},  // fifteen digits
      {"0", QvFrameReader::Result::broken},
      {"G12", QvFrameReader::Result::broken},
      {"3X2C", QvFrameReader::Result::broken},
      {"2", QvFrameReader::Result::incomplete},
      {"14AB", QvFrameReader::Result::incomplete},
      {"14****", QvFrameReader::Result::broken},              // not Base64
      {"18QUJDRA==", QvFrameReader::Result::broken},          // shorter than the salt
  };
  for (const Case& c : cases) {
    QvFrameReader reader;
    reader.append(c.bytes.data(), c.bytes.size());
    std::string message;
    EXPECT_EQ(reader.next(message), c.result) << c.bytes;
  }
}

TEST_F(ReferralFrameTest, EncipheredPasswordsComeBack) {
  for (const std::string& text : {std::string(), std::string("secret"), std::string(300, 'p')}) {
    std::string base64 = qvEncipherToBase64(text);
    EXPECT_EQ(base64.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=\n"),
              std::string::npos);
    EXPECT_NE(base64, qvBase64Encode(text));
    EXPECT_EQ(qvDecipherFromBase64(base64), text);
  }
}

}  // namespace
