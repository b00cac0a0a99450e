#include "tests/support/mailbox_writer.h"

#include "tests/support/base64_writer.h"

namespace kolvotest {

namespace {
constexpr const char* boundary = "kolvo-part-boundary";
}

MailMessage mailFrom(const std::string& from, const std::string& date, const std::string& body,
                     std::vector<MailAttachment> attachments) {
  MailMessage message;
  message.from = from;
  message.date = date;
  message.body = body;
  message.attachments = std::move(attachments);
  return message;
}

MailboxWriter& MailboxWriter::add(const MailMessage& message) {
  box += line(message.envelope);
  if (!message.from.empty()) box += line("From: " + message.from);
  if (!message.date.empty()) box += line("Date: " + message.date);
  box += line("Subject: " + message.subject);
  if (message.attachments.empty()) {
    box += line("");
    box += message.body;
    box += line("");
    return *this;
  }
  box += line("MIME-Version: 1.0");
  box += line(std::string("Content-Type: multipart/mixed; boundary=\"") + boundary + "\"");
  box += line("");
  box += line(std::string("--") + boundary);
  box += line("Content-Type: text/plain");
  box += line("");
  box += message.body;
  box += line("");
  for (const MailAttachment& attachment : message.attachments) {
    std::string name = attachment.quoted ? "\"" + attachment.fileName + "\"" : attachment.fileName;
    std::string disposition = "Content-Disposition: attachment; filename=" + name;
    if (!attachment.nameLines.empty()) {
      disposition.clear();
      for (char c : attachment.nameLines) disposition += c == '\n' ? eol : std::string(1, c);
    }
    box += line(std::string("--") + boundary);
    box += line("Content-Type: application/octet-stream");
    if (attachment.nameBeforeEncoding) box += line(disposition);
    box += line(attachment.encodingHeader);
    if (!attachment.nameBeforeEncoding) box += line(disposition);
    box += line("");
    box += base64Encode(attachment.contents, 76, eol);
    if (attachment.unterminated) return *this;
    box += line("");
  }
  box += line(std::string("--") + boundary + "--");
  box += line("");
  return *this;
}

std::time_t localTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = -1;
  return std::mktime(&fields);
}

}  // namespace kolvotest
