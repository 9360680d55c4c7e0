#include "mail/mime.h"

#include "mail/base64.h"
#include "toolbelt/failure.h"
#include "toolbelt/text_time.h"

namespace tw {

const char kMimeBoundary[] = "=NextPart_Brindle_QWZ0000_MNPX0000";

namespace {

// The plain body's content type, one literal with its folded continuation lines.
const char kPlainContentType[] =
    "Content-Type: text/plain;\r\n"
    "\tformat=flowed;\r\n"
    "\tcharset=\"iso-8859-1\";\r\n"
    "\treply-type=original";

// The whole attachment file, or empty when there is none. A file that exists but cannot be
// read leaves an exception report and no attachment: the alert itself still goes out.
std::string ReadAttachment(Context& ctx, const std::string& path) {
  std::string data;
  if (path.empty() || !ctx.env.files->IsPlainFile(path)) return data;
  const int32_t trace = 3000;
  Guarded(ctx, "toolbelt.FileToStr()", trace, [&] {
    std::string error;
    if (!ctx.env.files->ReadFile(path, &data, &error)) {
      data.clear();
      throw Fault("EFOpenError", error);
    }
  });
  return data;
}

}  // namespace

std::string AttachmentName(const std::string& path, const char* platform_delimiters) {
  const std::string delimiters = std::string("\\:") + platform_delimiters;
  const size_t cut = path.find_last_of(delimiters);
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

MessageLines ComposeMessage(Context& ctx, const tEmail& mail) {
  MessageLines m;
  std::vector<std::string>& out = m.lines;
  if (!mail.FromAddr.empty()) out.push_back("From: " + mail.FromAddr);
  if (!mail.ToAddr.empty()) out.push_back("To: " + mail.ToAddr);
  if (!mail.CCAddr.empty()) out.push_back("Cc: " + mail.CCAddr);
  if (!mail.ReplyTo.empty()) out.push_back("Reply-To: " + mail.ReplyTo);
  out.push_back("Subject: " + mail.Subject);
  m.date_line = out.size();
  const TDateTime utc = LocalTimeToGMT(ctx, ctx.env.clock->Now());
  out.push_back("Date: " + DateTimeToRFC822(ctx, 0, utc));
  out.push_back("MIME-Version: 1.0");

  const std::string priority =
      "X-Priority: " + std::to_string(mail.Priority == 0 ? 3 : mail.Priority);
  const std::string attachment = ReadAttachment(ctx, mail.Attachment);
  const std::string boundary_line = std::string("--") + kMimeBoundary;

  // A plain mail with an attachment becomes multipart as well (with a plain text part):
  // under a text/plain header the attachment would show up as base64 noise in the text.
  if (!mail.HTML && attachment.empty()) {
    out.push_back(kPlainContentType);
    out.push_back(priority);
    out.push_back("");
    out.push_back(mail.Body);
  } else {
    out.push_back("Content-Type: multipart/mixed;");
    out.push_back(std::string(" boundary= \"") + kMimeBoundary + "\"");
    out.push_back(priority);
    out.push_back("");
    out.push_back(boundary_line);
    if (mail.HTML) {
      out.push_back("Content-Type: text/html; charset=\"us-ascii\"");
    } else {
      out.push_back(kPlainContentType);
    }
    out.push_back("");
    out.push_back(mail.Body);
    if (!attachment.empty()) {
      const std::string name = AttachmentName(mail.Attachment, ctx.env.files->PathDelimiters());
      out.push_back(boundary_line);
      out.push_back("Content-Type: application/pdf;\r\n\tname=\"" + name + "\"");
      out.push_back("Content-Transfer-Encoding: base64");
      out.push_back("Content-Disposition: attachment;\r\n\tfilename=" + name + ";");
      out.push_back("");
      out.push_back(Base64EncodeLines(attachment, kBase64LineLength));
    }
    out.push_back(boundary_line + "--");
  }
  out.push_back("");
  return m;
}

std::string MessageText(const MessageLines& message) {
  std::string text;
  for (const std::string& line : message.lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

}  // namespace tw
