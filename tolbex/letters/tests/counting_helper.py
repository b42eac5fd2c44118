#!/usr/bin/python3
# A stand-in for letter_helper.py that needs no office and counts what it is asked: the same
# requests on the same two FIFOs, a document that is a plain UTF-8 text file ("\r\n" read as a
# paragraph break) with no tables, headers, footers or frames. It writes "start" and then each
# request's command, one a line, to the file $TV_LETTER_HELPER_LOG when that is set.
# Usage: counting_helper.py REQUEST_FIFO REPLY_FIFO PROFILE_DIR
import os
import sys


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            i += 1
            c = {"t": "\t", "n": "\n", "r": "\r"}.get(text[i], text[i])
        out.append(c)
        i += 1
    return "".join(out)


class Document:
    def __init__(self):
        self.text = None

    def replace(self, start, end, value):
        start, end = int(start), int(end)
        if self.text is None or not 0 <= start <= end <= len(self.text):
            raise RuntimeError("position outside the document")
        self.text = self.text[:start] + value + self.text[end:]

    def run(self, command, fields):
        if command == "open":
            with open(fields[0], "rb") as f:
                self.text = f.read().decode("utf-8", "surrogateescape").replace("\r\n", "\n")
        elif command == "new":
            self.text = fields[0]
        elif command == "close":
            self.text = None
        elif self.text is None:
            raise RuntimeError("no document is open")
        elif command == "text":
            return self.text
        elif command == "breaks":
            return ""
        elif command == "replace":
            self.replace(*fields)
        elif command == "edits":
            if len(fields) % 3:
                raise RuntimeError("edits come as start, end and text")
            for i in range(0, len(fields), 3):
                self.replace(*fields[i:i + 3])
        elif command == "save":
            with open(fields[0], "wb") as f:
                f.write(self.text.encode("utf-8", "surrogateescape"))
        else:
            raise RuntimeError("unknown request " + command)
        return None


def main():
    request_path, reply_path = sys.argv[1:3]
    log_path = os.environ.get("TV_LETTER_HELPER_LOG")
    requests = open(request_path, "r", encoding="utf-8", errors="surrogateescape", newline="\n")
    replies = open(reply_path, "w", encoding="utf-8", errors="surrogateescape", newline="\n")

    def log(what):
        if log_path:
            with open(log_path, "a") as f:
                f.write(what + "\n")

    def reply(line):
        replies.write(line + "\n")
        replies.flush()

    log("start")
    reply("ok")
    document = Document()
    for line in requests:
        fields = [unescape(f) for f in line.rstrip("\n").split("\t")]
        log(fields[0])
        if fields[0] == "quit":
            break
        try:
            value = document.run(fields[0], fields[1:])
            reply("ok" if value is None else "ok\t" + escape(value))
        except Exception as e:
            reply("err\t" + escape(str(e) or type(e).__name__))
    return 0


if __name__ == "__main__":
    sys.exit(main())
