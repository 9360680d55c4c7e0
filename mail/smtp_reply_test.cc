#include "mail/smtp_reply.h"

#include <gtest/gtest.h>

namespace tw {
namespace {

std::vector<SmtpReply> ReadAll(const std::string& bytes, size_t piece,
                               SmtpReplyReader::Status* last = nullptr) {
  SmtpReplyReader reader;
  std::vector<SmtpReply> replies;
  SmtpReplyReader::Status status = SmtpReplyReader::Status::kNeedMore;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    reader.Feed(bytes.substr(at, piece));
    SmtpReply reply;
    while ((status = reader.Next(&reply)) == SmtpReplyReader::Status::kReply) {
      replies.push_back(reply);
    }
    if (status == SmtpReplyReader::Status::kTooLong) break;
  }
  if (last != nullptr) *last = status;
  return replies;
}

TEST(SmtpReplyTest, MultiLineReplyIsOneReplyHoweverTheBytesArrive) {
  const std::string bytes =
      "250-relay.test\r\n250-SIZE 33554432\r\n250-AUTH LOGIN PLAIN\r\n250 HELP\r\n"
      "354 End data with <CR><LF>.<CR><LF>\r\n";
  for (size_t piece : {1u, 2u, 7u, 1000u}) {
    const auto replies = ReadAll(bytes, piece);
    ASSERT_EQ(replies.size(), 2u) << piece;
    EXPECT_EQ(replies[0].code, 250);
    EXPECT_EQ(replies[0].lines.size(), 4u);
    EXPECT_EQ(replies[0].Text(),
              "250-relay.test\r\n250-SIZE 33554432\r\n250-AUTH LOGIN PLAIN\r\n250 HELP");
    EXPECT_EQ(replies[1].code, 354);
  }
}

TEST(SmtpReplyTest, LineShapes) {
  const struct {
    const char* bytes;
    int code;
    const char* text;
  } cases[] = {
      {"220 relay ready\r\n", 220, "220 relay ready"},
      {"250\r\n", 250, "250"},                            // code alone ends the reply
      {"250 OK\n", 250, "250 OK"},                        // bare LF ends a line too
      {"421 4.3.2 busy\r\r\n", 421, "421 4.3.2 busy\r"},  // only the CR before LF goes
      {"hello\r\n", 0, "hello"},                          // no code: a reply of its own
      {"25\r\n", 0, "25"},
      {"2x0-a\r\n", 0, "2x0-a"},  // no code, so no continuation
      {"\r\n", 0, ""},
      {"250-a\r\n550 b\r\n", 250, "250-a\r\n550 b"},  // the first line's code counts
      {"250-a\r\nno code\r\n", 250, "250-a\r\nno code"},
  };
  for (const auto& c : cases) {
    const auto replies = ReadAll(c.bytes, 1000);
    ASSERT_EQ(replies.size(), 1u) << c.bytes;
    EXPECT_EQ(replies[0].code, c.code) << c.bytes;
    EXPECT_EQ(replies[0].Text(), c.text) << c.bytes;
  }
}

TEST(SmtpReplyTest, UnfinishedReplyWaitsForMore) {
  SmtpReplyReader::Status status;
  EXPECT_TRUE(ReadAll("250-first\r\n250-second", 1000, &status).empty());
  EXPECT_EQ(status, SmtpReplyReader::Status::kNeedMore);
  EXPECT_TRUE(ReadAll("250 no line end", 1000, &status).empty());
  EXPECT_EQ(status, SmtpReplyReader::Status::kNeedMore);
}

TEST(SmtpReplyTest, OverlongLinesAndRepliesStopTheReader) {
  SmtpReplyReader::Status status;
  // A line at the limit passes; one byte more does not, with or without its line end.
  const std::string at_limit = "250 " + std::string(kMaxReplyLineLength - 4, 'x');
  EXPECT_EQ(ReadAll(at_limit + "\r\n", 1000, &status).size(), 1u);
  EXPECT_TRUE(ReadAll(at_limit + "y\r\n", 1000, &status).empty());
  EXPECT_EQ(status, SmtpReplyReader::Status::kTooLong);
  EXPECT_TRUE(ReadAll(at_limit + "yyyy", 1000, &status).empty());
  EXPECT_EQ(status, SmtpReplyReader::Status::kTooLong);

  std::string endless;
  while (endless.size() <= kMaxReplyLength) endless += "250-" + std::string(100, 'z') + "\r\n";
  EXPECT_TRUE(ReadAll(endless + "250 end\r\n", 4096, &status).empty());
  EXPECT_EQ(status, SmtpReplyReader::Status::kTooLong);

  // A stopped reader takes nothing more.
  SmtpReplyReader reader;
  reader.Feed(at_limit + "y\r\n");
  SmtpReply reply;
  EXPECT_EQ(reader.Next(&reply), SmtpReplyReader::Status::kTooLong);
  reader.Feed("250 OK\r\n");
  EXPECT_EQ(reader.Next(&reply), SmtpReplyReader::Status::kTooLong);
}

}  // namespace
}  // namespace tw
