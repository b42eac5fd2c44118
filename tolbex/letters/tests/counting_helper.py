#!/usr/bin/python3
# A stand-in for letter_helper.py that needs no office and counts what it is asked: the helper's
# own request loop on the same two FIFOs, over a document that is a plain UTF-8 text file ("\r\n"
# read as a paragraph break) with no tables, headers, footers or frames. It writes "start" and then
# each request's command, one a line, to the file $TV_LETTER_HELPER_LOG when that is set.
# Usage: counting_helper.py REQUEST_FIFO REPLY_FIFO PROFILE_DIR
import os
import sys

sys.dont_write_bytecode = True  # nothing left beside the product's helper in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir))
import letter_helper  # noqa: E402


class TextDocument:
    def __init__(self):
        self.doc = None  # the text while a document is open

    def do_open(self, path):
        with open(path, "rb") as f:
            self.doc = f.read().decode("utf-8", "surrogateescape").replace("\r\n", "\n")

    def do_new(self, text, *extras):
        self.doc = text

    def do_text(self):
        return self.doc

    def do_breaks(self):
        return ""

    def do_replace(self, start, end, value):
        start, end = int(start), int(end)
        if not 0 <= start <= end <= len(self.doc):
            raise RuntimeError("position outside the document")
        self.doc = self.doc[:start] + value + self.doc[end:]

    def do_edits(self, *fields):
        if len(fields) % 3:
            raise RuntimeError("edits come as start, end and text")
        for i in range(0, len(fields), 3):
            self.do_replace(*fields[i:i + 3])

    def do_save(self, path):
        with open(path, "wb") as f:
            f.write(self.doc.encode("utf-8", "surrogateescape"))

    def close(self):
        self.doc = None


def main():
    requests, reply = letter_helper.channels(*sys.argv[1:3])
    log_path = os.environ.get("TV_LETTER_HELPER_LOG")

    def log(what):
        if log_path:
            with open(log_path, "a") as f:
                f.write(what + "\n")

    log("start")
    reply("ok")
    letter_helper.serve(requests, reply, TextDocument(), log)
    return 0


if __name__ == "__main__":
    sys.exit(main())
