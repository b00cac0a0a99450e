// Writes Unix mailboxes for tests: messages with a "From " line, From:, Date: and
// Subject: headers, a text body and base64 attachments in a multipart body, with LF or
// CR LF line ends. Knobs produce the damaged and unusual layouts the mail tests need.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace kolvotest {

struct MailAttachment {
  std::string fileName;  // written as filename="..." (or unquoted)
  std::string contents;  // the decoded bytes
  bool quoted = true;
  // The Content-Disposition line (with the file name) comes before the base64 header.
  bool nameBeforeEncoding = false;
  // No empty line after the encoded data: the attachment runs to the next "From " or
  // the end of the mailbox.
  bool unterminated = false;
  // When not empty: the header lines that name the file, written as they stand (LF
  // separated) in place of the Content-Disposition line.
  std::string nameLines = {};
  std::string encodingHeader = "Content-Transfer-Encoding: base64";
};

struct MailMessage {
  std::string from = "Ann Example <ann@example.org>";  // the From: value; empty: no header
  std::string date = "Mon, 5 Jan 2004 10:11:12 +0100";  // the Date: value; empty: no header
  std::string subject = "Hello";
  std::string body;
  std::vector<MailAttachment> attachments;
  std::string envelope = "From ann@example.org Mon Jan  5 10:11:12 2004";
};

// A message from a sender at a date with a body and attachments.
MailMessage mailFrom(const std::string& from, const std::string& date, const std::string& body,
                     std::vector<MailAttachment> attachments = {});

class MailboxWriter {
 public:
  // Line ends of everything written after this call.
  MailboxWriter& lineEnd(const std::string& ending) {
    eol = ending;
    return *this;
  }
  MailboxWriter& add(const MailMessage& message);
  // Text written as it stands.
  MailboxWriter& raw(const std::string& text) {
    box += text;
    return *this;
  }
  const std::string& text() const { return box; }

 private:
  std::string line(const std::string& text) const { return text + eol; }
  std::string box;
  std::string eol = "\n";
};

// The Unix time of a local date and time, as the mail analyzer reads "Date:" values.
std::time_t localTime(int year, int month, int day, int hour, int minute, int second);

}  // namespace kolvotest
