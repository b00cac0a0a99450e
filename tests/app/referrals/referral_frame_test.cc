// The framing of referral messages: Base64 with its line breaks, the length header, and
// a reader that takes exactly one frame at a time and drops hostile or broken ones.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/index/kolvo_lib.h"
#include "app/referrals/referral_frame.h"

namespace {

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
