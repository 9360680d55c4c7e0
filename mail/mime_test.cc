#include "mail/mime.h"

#include <gtest/gtest.h>

#include "tests/test_settings.h"
#include "toolbelt/datetime.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

// 57 bytes: exactly one base64 line of 76 characters.
const char kPdf57[] = "%PDF-1.4 UPS temperature report, one page, 57 bytes long.";
const char kPdf57Base64[] =
    "JVBERi0xLjQgVVBTIHRlbXBlcmF0dXJlIHJlcG9ydCwgb25lIHBhZ2UsIDU3IGJ5dGVzIGxvbmcu";

// The attachment part of "report.pdf" holding kPdf57: one full base64 line, whose own line
// break and that of the part's last line give the empty line before the closing boundary.
const std::string kReportPart = std::string(
                                    "--=NextPart_Brindle_QWZ0000_MNPX0000\r\n"
                                    "Content-Type: application/pdf;\r\n"
                                    "\tname=\"report.pdf\"\r\n"
                                    "Content-Transfer-Encoding: base64\r\n"
                                    "Content-Disposition: attachment;\r\n"
                                    "\tfilename=report.pdf;\r\n"
                                    "\r\n") +
                                kPdf57Base64 +
                                "\r\n"
                                "\r\n"
                                "--=NextPart_Brindle_QWZ0000_MNPX0000--\r\n"
                                "\r\n";

class MimeTest : public ::testing::Test {
 protected:
  MimeTest() {
    // Local time is UTC+1 on a German machine: the Date line still reads in UTC, in English.
    env_.clock.Set(EncodeDateTimeOrThrow(2024, 2, 5, 14, 4, 5, 0));
    env_.clock.utc_offset_minutes = 60;
    env_.regional.mutable_settings() = GermanSettings();
    env_.files.AddDirectory("/opt/tempwarden/reports");
  }

  std::string Compose(const tEmail& mail) { return MessageText(ComposeMessage(env_.ctx, mail)); }

  static tEmail Alert() {
    tEmail mail;
    mail.ToAddr = "ops@example.test";
    mail.Subject = "APC UPS: New Low temp";
    mail.Body = "[Msg=New Low temp]\r\n[Host=SRV1]";
    return mail;
  }

  FakeEnv env_;
};

TEST_F(MimeTest, OnlyToSubjectAndBodyGivePlainLayout) {
  EXPECT_EQ(Compose(Alert()),
            "To: ops@example.test\r\n"
            "Subject: APC UPS: New Low temp\r\n"
            "Date: Mon, 5 Feb 2024 13:04:05 +0000\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: text/plain;\r\n"
            "\tformat=flowed;\r\n"
            "\tcharset=\"iso-8859-1\"\r\n"
            "X-Priority: 3\r\n"
            "\r\n"
            "[Msg=New Low temp]\r\n[Host=SRV1]\r\n"
            "\r\n");
}

TEST_F(MimeTest, MessageIdFollowsTheDate) {
  const MessageLines m = ComposeMessage(env_.ctx, Alert(), "<18d7.5a3c@srv1.corp.example>");
  ASSERT_GE(m.lines.size(), m.date_line + 3);
  EXPECT_EQ(m.lines[m.date_line + 1], "Message-ID: <18d7.5a3c@srv1.corp.example>");
  EXPECT_EQ(m.lines[m.date_line + 2], "MIME-Version: 1.0");
}

TEST_F(MimeTest, EmptySubjectKeepsItsLineWithTheBlank) {
  tEmail mail = Alert();
  mail.Subject.clear();
  const MessageLines m = ComposeMessage(env_.ctx, mail);
  ASSERT_GE(m.lines.size(), 3u);
  EXPECT_EQ(m.lines[1], "Subject: ");
  EXPECT_EQ(m.date_line, 2u);
  EXPECT_EQ(m.lines[m.date_line], "Date: Mon, 5 Feb 2024 13:04:05 +0000");
}

TEST_F(MimeTest, PriorityZeroStandsForThreeOthersAreWrittenAsTheyAre) {
  const struct {
    int32_t priority;
    const char* line;
  } cases[] = {
      {0, "X-Priority: 3"}, {1, "X-Priority: 1"}, {5, "X-Priority: 5"}, {-2, "X-Priority: -2"}};
  for (const auto& c : cases) {
    for (bool html : {false, true}) {
      tEmail mail = Alert();
      mail.Priority = c.priority;
      mail.HTML = html;
      EXPECT_NE(Compose(mail).find(std::string("\r\n") + c.line + "\r\n"), std::string::npos)
          << c.priority << (html ? " html" : " plain");
    }
  }
}

TEST_F(MimeTest, AllHeadersInOrderWithTheAddressesJoinedByCommas) {
  tEmail mail = Alert();
  mail.FromAddr = "ups@example.test";
  mail.ToAddr = "a@example.test,b@example.test, c@example.test";
  mail.CCAddr = "boss@example.test; it@example.test";
  mail.OtherAddr = "pager@example.test";
  mail.ReplyTo = "noc@example.test";
  const std::string text = Compose(mail);
  EXPECT_EQ(text.substr(0, text.find("Date: ")),
            "From: ups@example.test\r\n"
            "To: a@example.test, b@example.test, c@example.test\r\n"
            "Cc: boss@example.test, it@example.test\r\n"
            "Reply-To: noc@example.test\r\n"
            "Subject: APC UPS: New Low temp\r\n");
  EXPECT_EQ(text.find("pager@"), std::string::npos);
}

TEST_F(MimeTest, HtmlWithoutAttachmentClosesRightAfterTheBody) {
  tEmail mail = Alert();
  mail.HTML = true;
  mail.Body = "<p>UPS at 31 C</p>";
  EXPECT_EQ(Compose(mail),
            "To: ops@example.test\r\n"
            "Subject: APC UPS: New Low temp\r\n"
            "Date: Mon, 5 Feb 2024 13:04:05 +0000\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed;\r\n"
            " boundary= \"=NextPart_Brindle_QWZ0000_MNPX0000\"\r\n"
            "X-Priority: 3\r\n"
            "\r\n"
            "--=NextPart_Brindle_QWZ0000_MNPX0000\r\n"
            "Content-Type: text/html; charset=\"us-ascii\"\r\n"
            "\r\n"
            "<p>UPS at 31 C</p>\r\n"
            "--=NextPart_Brindle_QWZ0000_MNPX0000--\r\n"
            "\r\n");
}

TEST_F(MimeTest, AttachmentOf57BytesIsOneFullLineThenAnEmptyLine) {
  env_.files.Put("report.pdf", kPdf57);
  tEmail mail = Alert();
  mail.HTML = true;
  mail.Body = "<p>see report</p>";
  mail.Attachment = "report.pdf";
  const std::string text = Compose(mail);
  EXPECT_EQ(text.substr(text.find("--=NextPart")),
            "--=NextPart_Brindle_QWZ0000_MNPX0000\r\n"
            "Content-Type: text/html; charset=\"us-ascii\"\r\n"
            "\r\n"
            "<p>see report</p>\r\n" +
                kReportPart);
}

TEST_F(MimeTest, AttachmentOf58BytesEndsWithAShortLineAndNoEmptyLine) {
  env_.files.Put("report.pdf", std::string(kPdf57) + "\n");
  tEmail mail = Alert();
  mail.HTML = true;
  mail.Attachment = "report.pdf";
  const std::string text = Compose(mail);
  EXPECT_NE(text.find("\r\n\r\n" + std::string(kPdf57Base64) +
                      "\r\nCg==\r\n--=NextPart_Brindle_QWZ0000_MNPX0000--\r\n\r\n"),
            std::string::npos)
      << text;
}

TEST_F(MimeTest, AttachmentNameIsTheFileNameAlone) {
  env_.files.Put("/opt/tempwarden/reports/ups-2024.pdf", kPdf57);
  tEmail mail = Alert();
  mail.HTML = true;
  mail.Attachment = "reports/ups-2024.pdf";
  const std::string text = Compose(mail);
  EXPECT_NE(text.find("\tname=\"ups-2024.pdf\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\tfilename=ups-2024.pdf;\r\n"), std::string::npos);
  EXPECT_EQ(text.find("reports/"), std::string::npos);

  const struct {
    const char* path;
    const char* name;
  } cases[] = {{"C:\\Tempwarden\\reports\\ups.pdf", "ups.pdf"},
               {"D:ups.pdf", "ups.pdf"},
               {"reports/2024/ups.pdf", "ups.pdf"},
               {"ups.pdf", "ups.pdf"},
               {"reports/", ""}};
  for (const auto& c : cases) EXPECT_EQ(AttachmentName(c.path, "/"), c.name) << c.path;
}

TEST_F(MimeTest, MissingOrEmptyAttachmentGivesNoPart) {
  env_.files.Put("empty.pdf", "");
  for (const char* path : {"missing.pdf", "empty.pdf", ""}) {
    tEmail mail = Alert();
    mail.HTML = true;
    mail.Attachment = path;
    const std::string text = Compose(mail);
    EXPECT_EQ(text.find("application/pdf"), std::string::npos) << path;
    EXPECT_NE(text.find("[Host=SRV1]\r\n--=NextPart_Brindle_QWZ0000_MNPX0000--\r\n\r\n"),
              std::string::npos)
        << path;
  }
  tEmail plain = Alert();
  plain.Attachment = "missing.pdf";
  EXPECT_EQ(Compose(plain), Compose(Alert()));
}

// A plain mail with an attachment becomes multipart with a plain text part, so that readers
// show the attachment as one rather than as base64 text under the body.
TEST_F(MimeTest, PlainMailWithAttachmentBecomesMultipart) {
  env_.files.Put("report.pdf", kPdf57);
  tEmail mail = Alert();
  mail.Attachment = "report.pdf";
  const std::string text = Compose(mail);
  EXPECT_EQ(text.substr(text.find("MIME-Version")),
            "MIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed;\r\n"
            " boundary= \"=NextPart_Brindle_QWZ0000_MNPX0000\"\r\n"
            "X-Priority: 3\r\n"
            "\r\n"
            "--=NextPart_Brindle_QWZ0000_MNPX0000\r\n"
            "Content-Type: text/plain;\r\n"
            "\tformat=flowed;\r\n"
            "\tcharset=\"iso-8859-1\"\r\n"
            "\r\n"
            "[Msg=New Low temp]\r\n[Host=SRV1]\r\n" +
                kReportPart);
}

TEST_F(MimeTest, DateIsTakenWhenTheMessageIsComposed) {
  const std::string first = Compose(Alert());
  env_.clock.Advance(61000);
  const std::string second = Compose(Alert());
  EXPECT_NE(first.find("Date: Mon, 5 Feb 2024 13:04:05 +0000\r\n"), std::string::npos);
  EXPECT_NE(second.find("Date: Mon, 5 Feb 2024 13:05:06 +0000\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tw
