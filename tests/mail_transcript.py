#!/usr/bin/python3
"""The mails in a transcript of tests/smtp_server.py, one block each, in the order received.

    MAIL from=<sender> rcpt=<to>,<cc>
    From: ...            (the From, To, Cc and Subject headers, as sent)
    Subject: ...
      body line          (each body line indented by two blanks)

usage: mail_transcript.py TRANSCRIPT
"""

import sys


def mails(path):
    found, mail, in_data = [], None, False
    for raw in open(path, encoding="latin-1"):
        line = raw.rstrip("\n")
        if not line.startswith("C: "):
            continue
        text = line[3:]
        if text.startswith("MAIL FROM:"):
            mail = {"from": text[10:].strip(), "rcpt": [], "lines": []}
            found.append(mail)
        elif mail is None:
            continue
        elif text.startswith("RCPT TO:"):
            mail["rcpt"].append(text[8:])
        elif text == "DATA":
            in_data = True
        elif in_data and text == ".":
            in_data = False
        elif in_data:
            mail["lines"].append(text[1:] if text.startswith("..") else text)
    return found


def main():
    for m in mails(sys.argv[1]):
        head, body = m["lines"], []
        if "" in m["lines"]:
            i = m["lines"].index("")
            head, body = m["lines"][:i], m["lines"][i + 1:]
        while body and body[-1] == "":  # the message's own closing line end
            body.pop()
        print("MAIL from=%s rcpt=%s" % (m["from"], ",".join(m["rcpt"])))
        for h in head:
            if h.split(":")[0] in ("From", "To", "Cc", "Subject"):
                print(h)
        for b in body:
            print("  " + b)


if __name__ == "__main__":
    main()
