// The mail record: one alert mail, filled by the alert code and handed to SendMail.
#ifndef TEMPWARDEN_MAIL_EMAIL_H_
#define TEMPWARDEN_MAIL_EMAIL_H_

#include <cstdint>
#include <string>

namespace tw {

// Passed by value; a default-constructed record is the empty mail. All texts are 8-bit text
// in the system's ANSI code page and go into the message as they are (no encoded words, no
// quoted-printable, no folding).
struct tEmail {
  std::string Subject;
  std::string SMTPRelay;  // host name or dotted IPv4 address
  int32_t SMTPPort = 0;   // passed on as it is; 0 is not replaced by 25
  std::string ToAddr;     // the To list as the caller wrote it
  std::string OtherAddr;  // only counts in the "any recipient?" checks; never sent
  std::string CCAddr;     // the Cc list as the caller wrote it
  std::string Body;       // lines separated by CR LF
  std::string FromAddr;   // sender for "MAIL FROM" and the From header
  std::string ReplyTo;
  int32_t Priority = 0;    // X-Priority; 0 stands for 3
  bool HTML = false;       // multipart layout with an HTML body part
  bool Debug = false;      // announce the connection by syslog and console
  std::string Attachment;  // path of a file to attach; empty for none
};

}  // namespace tw

#endif  // TEMPWARDEN_MAIL_EMAIL_H_
