#include "mail/mime.h"

#include "mail/base64.h"
#include "platform/crypto.h"
#include "toolbelt/failure.h"
#include "toolbelt/text_time.h"

namespace tw {

const char kMimeBoundary[] = "=NextPart_Brindle_QWZ0000_MNPX0000";

namespace {

// The plain body's content type, one literal with its folded continuation lines.
const char kPlainContentType[] =
    "Content-Type: text/plain;\r\n"
    "\tformat=flowed;\r\n"
    "\tcharset=\"iso-8859-1\"";

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

std::vector<std::string> SplitAddresses(const std::string& list) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at <= list.size()) {
    size_t end = list.find_first_of(",;\r\n", at);
    if (end == std::string::npos) end = list.size();
    const size_t first = list.find_first_not_of(" \t", at);
    if (first != std::string::npos && first < end) {
      const size_t last = list.find_last_not_of(" \t", end - 1);
      out.push_back(list.substr(first, last - first + 1));
    }
    at = end + 1;
  }
  return out;
}

std::string NewMessageId(Context& ctx, const std::string& domain) {
  static const char kHex[] = "0123456789abcdef";
  const auto hex = [](uint64_t v) {
    std::string text;
    do {
      text.insert(text.begin(), kHex[v & 15]);
      v >>= 4;
    } while (v != 0);
    return text;
  };
  const TDateTime now = ctx.env.clock->Now();
  const uint64_t ms = now > 0 ? static_cast<uint64_t>(now * 86400000.0) : 0;
  std::string random;
  uint64_t bits = 0;
  if (ctx.env.crypto != nullptr && ctx.env.crypto->RandomBytes(8, &random) && random.size() == 8) {
    for (char c : random) bits = bits << 8 | static_cast<unsigned char>(c);
  } else {
    // Without the platform's random numbers the tick count still keeps the IDs apart.
    bits = ctx.env.clock->TickCount();
  }
  return "<" + hex(ms) + "." + hex(bits) + "@" + domain + ">";
}

MessageLines ComposeMessage(Context& ctx, const tEmail& mail, const std::string& message_id) {
  MessageLines m;
  std::vector<std::string>& out = m.lines;
  const auto joined = [](const std::string& list) {
    std::string text;
    for (const std::string& address : SplitAddresses(list)) {
      text += (text.empty() ? "" : ", ") + address;
    }
    return text;
  };
  const std::string to = joined(mail.ToAddr);
  const std::string cc = joined(mail.CCAddr);
  if (!mail.FromAddr.empty()) out.push_back("From: " + mail.FromAddr);
  if (!to.empty()) out.push_back("To: " + to);
  if (!cc.empty()) out.push_back("Cc: " + cc);
  if (!mail.ReplyTo.empty()) out.push_back("Reply-To: " + mail.ReplyTo);
  out.push_back("Subject: " + mail.Subject);
  m.date_line = out.size();
  const TDateTime utc = LocalTimeToGMT(ctx, ctx.env.clock->Now());
  out.push_back("Date: " + DateTimeToRFC822(ctx, 0, utc));
  if (!message_id.empty()) out.push_back("Message-ID: " + message_id);
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
