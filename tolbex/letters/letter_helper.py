#!/usr/bin/python3
# The letter code's hands on LibreOffice Writer: starts one headless office (its own user
# profile, so a desktop session of the user is not disturbed) and answers requests on two FIFOs,
# one line each way, fields separated by TAB, with \\ \t \n \r escaped.
#   open PATH | new TEXT | text | replace START END TEXT | save PATH | close | quit
# Replies: "ok[\tVALUE]" or "err\tMESSAGE". Positions count characters of the document text,
# whose paragraphs are joined by "\n". Usage: letter_helper.py REQUEST_FIFO REPLY_FIFO PROFILE_DIR
import os
import subprocess
import sys
import time
import uuid

import uno
from com.sun.star.beans import PropertyValue
from com.sun.star.text.ControlCharacter import PARAGRAPH_BREAK

FILTERS = {".doc": "MS Word 97", ".odt": "writer8", ".docx": "MS Word 2007 XML", ".rtf": "Rich Text Format",
           ".txt": "Text (encoded)"}


def prop(name, value):
    p = PropertyValue()
    p.Name, p.Value = name, value
    return p


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


def start_office(profile):
    pipe = "tvletters" + uuid.uuid4().hex
    office = subprocess.Popen(
        ["soffice", "--headless", "--invisible", "--nologo", "--norestore", "--nodefault", "--nolockcheck",
         "--accept=pipe,name=%s;urp;StarOffice.ComponentContext" % pipe,
         "-env:UserInstallation=" + uno.systemPathToFileUrl(profile)],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
    deadline = time.time() + 60
    while True:
        try:
            ctx = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
            break
        except Exception:
            if office.poll() is not None or time.time() > deadline:
                raise RuntimeError("the word processor did not start")
            time.sleep(0.05)
    desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
    return office, desktop


def select(doc, start, end):
    cursor = doc.getText().createTextCursor()
    cursor.gotoStart(False)
    for count, expand in ((start, False), (end - start, True)):
        while count > 0:
            step = min(count, 32767)
            if not cursor.goRight(step, expand):
                raise RuntimeError("position outside the document")
            count -= step
    return cursor


class Helper:
    def __init__(self, desktop):
        self.desktop = desktop
        self.doc = None

    def load(self, url):
        self.close()
        self.doc = self.desktop.loadComponentFromURL(url, "_blank", 0, (prop("Hidden", True),))
        if self.doc is None or not hasattr(self.doc, "getText"):
            self.close()
            raise RuntimeError("not a text document")

    def do_open(self, path):
        if not os.path.isfile(path):
            raise RuntimeError("no such file")
        self.load(uno.systemPathToFileUrl(os.path.abspath(path)))

    def do_new(self, text):
        self.load("private:factory/swriter")
        body = self.doc.getText()
        cursor = body.createTextCursor()
        for i, line in enumerate(text.split("\n")):
            if i:
                body.insertControlCharacter(cursor, PARAGRAPH_BREAK, False)
            body.insertString(cursor, line, False)

    def do_text(self):
        return self.doc.getText().getString().replace("\r\n", "\n")

    def do_replace(self, start, end, text):
        select(self.doc, int(start), int(end)).setString(text)

    def do_save(self, path):
        ext = os.path.splitext(path)[1].lower()
        args = [prop("FilterName", FILTERS.get(ext, "MS Word 97")), prop("Overwrite", True)]
        if ext == ".txt":
            args.append(prop("FilterOptions", "UTF8"))
        self.doc.storeToURL(uno.systemPathToFileUrl(os.path.abspath(path)), tuple(args))

    def close(self):
        if self.doc is not None:
            try:
                self.doc.close(True)
            except Exception:
                pass
            self.doc = None


def main():
    request_path, reply_path, profile = sys.argv[1:4]
    requests = open(request_path, "r", encoding="utf-8", newline="\n")
    replies = open(reply_path, "w", encoding="utf-8", newline="\n")

    def reply(line):
        replies.write(line + "\n")
        replies.flush()

    try:
        office, desktop = start_office(profile)
    except Exception as e:
        reply("err\t" + escape(str(e)))
        return 1
    helper = Helper(desktop)
    reply("ok")
    try:
        for line in requests:
            fields = [unescape(f) for f in line.rstrip("\n").split("\t")]
            command = fields[0]
            if command == "quit":
                break
            try:
                if command == "close":
                    helper.close()
                    reply("ok")
                    continue
                if command not in ("open", "new") and helper.doc is None:
                    raise RuntimeError("no document is open")
                value = getattr(helper, "do_" + command)(*fields[1:])
                reply("ok" if value is None else "ok\t" + escape(value))
            except Exception as e:
                reply("err\t" + escape(str(e) or type(e).__name__))
    finally:
        helper.close()
        try:
            desktop.terminate()
        except Exception:
            pass
        try:
            office.wait(timeout=10)
        except Exception:
            office.kill()
    return 0


if __name__ == "__main__":
    sys.exit(main())
