#!/usr/bin/python3
# The letter code's hands on LibreOffice Writer: starts one headless office (its own user
# profile, so a desktop session of the user is not disturbed) and answers requests on two FIFOs,
# one line each way, fields separated by TAB, with \\ \t \n \r escaped.
#   open PATH | new TEXT [header|footer|table|after|frame|field VALUE]... | text | breaks |
#   replace START END TEXT | edits [START END TEXT]... | save PATH | close | quit
# "edits" makes its replacements in order, each on the text as the ones before it left it: a
# letter's fields in one request.
# Texts are UTF-8; a PATH is the file system's bytes as they are (read with surrogateescape).
# Replies: "ok[\tVALUE]" or "err\tMESSAGE". The document text is every paragraph the letter can
# hold joined by "\n": the body's (each table cell's in its place), then each page style's headers
# and footers, then each text frame's. A table cell, header, footer or frame is a part of its own;
# "breaks" lists the positions of the "\n"s between parts, which no replace may span.
# Usage: letter_helper.py REQUEST_FIFO REPLY_FIFO PROFILE_DIR
import os
import subprocess
import sys
import time
import urllib.parse
import uuid

try:
    import uno
    from com.sun.star.beans import PropertyValue
    from com.sun.star.text.ControlCharacter import PARAGRAPH_BREAK
except ImportError:  # main() then says so; serve() needs none of it
    uno = None

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


def file_url(path):
    """The URL of a path given as the file system's bytes, whatever their character set."""
    return "file://" + urllib.parse.quote(os.fsencode(os.path.abspath(path)))


def start_office(profile):
    pipe = "tvletters" + uuid.uuid4().hex
    office = subprocess.Popen(
        ["soffice", "--headless", "--invisible", "--nologo", "--norestore", "--nodefault", "--nolockcheck",
         "--accept=pipe,name=%s;urp;StarOffice.ComponentContext" % pipe,
         "-env:UserInstallation=" + file_url(profile)],
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


class Part:
    """Consecutive paragraphs of one text, with no table between them."""

    def __init__(self, text, paragraphs):
        self.text = text
        self.paragraphs = paragraphs
        self.strings = [p.getString() for p in paragraphs]
        self.length = sum(len(t) for t in self.strings) + len(self.strings) - 1
        self.plain = [None] * len(paragraphs)  # per paragraph: text only, no field; None: not looked at

    def is_plain(self, paragraph):
        """Whether the paragraph holds text only, so that a position in it is a character count.
        Plain text put in keeps it so; one look per paragraph and layout."""
        if self.plain[paragraph] is None:
            kinds = set()
            portions = self.paragraphs[paragraph].createEnumeration()
            while portions.hasMoreElements():
                kinds.add(portions.nextElement().TextPortionType)
            self.plain[paragraph] = kinds <= {"Text", "SoftPageBreak"}
        return self.plain[paragraph]


def parts_of(text):
    parts, run = [], []
    elements = text.createEnumeration()
    while elements.hasMoreElements():
        element = elements.nextElement()
        if element.supportsService("com.sun.star.text.TextTable"):
            if run:
                parts.append(Part(text, run))
                run = []
            for name in element.getCellNames():
                parts.extend(parts_of(element.getCellByName(name)))
        else:
            run.append(element)
    if run:
        parts.append(Part(text, run))
    return parts


def flag(style, name, default):
    try:
        return style.getPropertyValue(name)
    except Exception:  # an office too old to have it
        return default


def stories(doc):
    """The texts a letter has: the body, the headers and footers, the frames and text boxes."""
    texts = [doc.getText()]
    styles = doc.getStyleFamilies().getByName("PageStyles")
    for name in styles.getElementNames():
        style = styles.getByName(name)
        for kind in ("Header", "Footer"):
            if not style.getPropertyValue(kind + "IsOn"):
                continue
            texts.append(style.getPropertyValue(kind + "Text"))
            # A shared left or first page text is the same text again: taking it twice would
            # count its characters twice.
            if not style.getPropertyValue(kind + "IsShared"):
                texts.append(style.getPropertyValue(kind + "TextLeft"))
            if not flag(style, "FirstIsShared", True):
                texts.append(style.getPropertyValue(kind + "TextFirst"))
    frames = doc.getTextFrames()
    for i in range(frames.getCount()):
        texts.append(frames.getByIndex(i).getText())
    # A Word text box (.docx) is a drawing shape whose text is a frame that is not among the others.
    shapes = doc.getDrawPage()
    for i in range(shapes.getCount()):
        shape = shapes.getByIndex(i)
        if shape.getPropertySetInfo().hasPropertyByName("TextBox") and shape.getPropertyValue("TextBox"):
            box = shape.getPropertyValue("TextBoxContent")
            if box is not None:
                texts.append(box.getText())
    return [t for t in texts if t is not None]


def point(part, paragraph, offset):
    """The position offset characters into a paragraph; text portions are walked so that a field
    (whose shown text is longer than the one place it takes) keeps later positions right."""
    text = part.text
    portions = part.paragraphs[paragraph].createEnumeration()
    at = 0
    while portions.hasMoreElements():
        portion = portions.nextElement()
        length = len(portion.getString())
        if offset == at:
            return portion.getStart()
        if offset < at + length:
            if portion.TextPortionType != "Text":
                raise RuntimeError("a marker of the template overlaps a field of the word processor")
            cursor = text.createTextCursorByRange(portion.getStart())
            cursor.goRight(offset - at, False)
            return cursor.getStart()
        at += length
    if offset == at:
        return part.paragraphs[paragraph].getEnd()
    raise RuntimeError("position outside the document")


class Layout:
    """The document's parts in text order, story by story, so an edit re-reads only its story."""

    def __init__(self, doc):
        self.roots = stories(doc)
        self.stories = [parts_of(t) for t in self.roots]

    def parts(self):
        return [(s, i, part) for s, story in enumerate(self.stories) for i, part in enumerate(story)]

    def text(self):
        return "\n".join("\n".join(part.strings) for _, _, part in self.parts())

    def breaks(self):
        out, at = [], 0
        for _, _, part in self.parts()[:-1]:
            at += part.length
            out.append(at)
            at += 1
        return out

    def locate(self, pos):
        """(story, part, paragraph, offset) of a text position; a part's end is its own."""
        at = 0
        for s, i, part in self.parts():
            if pos <= at + part.length:
                offset = pos - at
                for p, string in enumerate(part.strings):
                    if offset <= len(string):
                        return s, i, p, offset
                    offset -= len(string) + 1
            at += part.length + 1
        raise RuntimeError("position outside the document")

    def replace(self, start, end, value):
        if start > end:
            raise RuntimeError("position outside the document")
        s, i, p, offset = self.locate(start)
        s2, i2, p2, offset2 = self.locate(end)
        if (s, i) != (s2, i2):
            raise RuntimeError("a replacement may not cross a table cell, header, footer or frame")
        part = self.stories[s][i]
        if p == p2 and offset2 <= 32767 and part.is_plain(p):
            # Walking the text portions for each end of each field made a letter take seconds:
            # in a paragraph of text only, the cursor counts the characters itself.
            cursor = part.text.createTextCursorByRange(part.paragraphs[p].getStart())
            cursor.goRight(offset, False)
            cursor.goRight(offset2 - offset, True)
        else:
            cursor = part.text.createTextCursorByRange(point(part, p, offset))
            cursor.gotoRange(point(part, p2, offset2), True)
        cursor.setString(value)
        if p == p2 and "\n" not in value and "\r" not in value:
            # The paragraph stays the same object: reading the whole story again per field
            # would make a long letter take minutes.
            old = part.strings[p]
            part.strings[p] = old[:offset] + value + old[offset2:]
            part.length += len(value) - (offset2 - offset)
        else:
            self.stories[s] = parts_of(self.roots[s])


class Helper:
    def __init__(self, desktop):
        self.desktop = desktop
        self.doc = None
        self.parts = None

    def load(self, url):
        self.close()
        self.parts = None
        self.doc = self.desktop.loadComponentFromURL(url, "_blank", 0, (prop("Hidden", True),))
        if self.doc is None or not hasattr(self.doc, "getText"):
            self.close()
            raise RuntimeError("not a text document")

    def do_open(self, path):
        if not os.path.isfile(path):
            raise RuntimeError("no such file")
        self.load(file_url(path))

    def layout(self):
        if self.parts is None:
            self.parts = Layout(self.doc)
        return self.parts

    def do_new(self, text, *extras):
        """A document holding text; extras add a header, a footer, a table after the text (rows
        split at "\n", cells at TAB), paragraphs after that table, a text frame and an input field
        at the start."""
        self.load("private:factory/swriter")
        body = self.doc.getText()
        cursor = body.createTextCursor()

        def paragraphs(value):
            for i, line in enumerate(value.split("\n")):
                if i:
                    body.insertControlCharacter(cursor, PARAGRAPH_BREAK, False)
                body.insertString(cursor, line, False)

        paragraphs(text)
        options = dict(zip(extras[::2], extras[1::2]))
        style = self.doc.getStyleFamilies().getByName("PageStyles").getByName("Standard")
        for kind in ("header", "footer"):
            if kind in options:
                style.setPropertyValue(kind.capitalize() + "IsOn", True)
                style.getPropertyValue(kind.capitalize() + "Text").setString(options[kind])
        if "table" in options:
            rows = [row.split("\t") for row in options["table"].split("\n")]
            table = self.doc.createInstance("com.sun.star.text.TextTable")
            columns = max(len(r) for r in rows)
            table.initialize(len(rows), columns)
            body.insertTextContent(cursor, table, False)
            names = table.getCellNames()
            for r, row in enumerate(rows):
                for c, value in enumerate(row):
                    table.getCellByName(names[r * columns + c]).setString(value)
            cursor.gotoEnd(False)
            paragraphs(options.get("after", ""))
        if "field" in options:
            # An input field at the start of the text: shown as its content, one place in the text.
            field = self.doc.createInstance("com.sun.star.text.TextField.Input")
            field.setPropertyValue("Content", options["field"])
            body.insertTextContent(body.getStart(), field, False)
        if "frame" in options:
            frame = self.doc.createInstance("com.sun.star.text.TextFrame")
            frame.setPropertyValue("Size", uno.createUnoStruct("com.sun.star.awt.Size", 6000, 2000))
            body.insertTextContent(body.getStart(), frame, False)
            frame.setString(options["frame"])

    def do_text(self):
        return self.layout().text()

    def do_breaks(self):
        return ",".join(str(b) for b in self.layout().breaks())

    def do_replace(self, start, end, text):
        self.layout().replace(int(start), int(end), text)

    def do_edits(self, *fields):
        if len(fields) % 3:
            raise RuntimeError("edits come as start, end and text")
        layout = self.layout()
        # With its controllers locked the office does not show each change as it is made.
        self.doc.lockControllers()
        try:
            for i in range(0, len(fields), 3):
                layout.replace(int(fields[i]), int(fields[i + 1]), fields[i + 2])
        finally:
            self.doc.unlockControllers()

    def do_save(self, path):
        ext = os.path.splitext(path)[1].lower()
        args = [prop("FilterName", FILTERS.get(ext, "MS Word 97")), prop("Overwrite", True)]
        if ext == ".txt":
            args.append(prop("FilterOptions", "UTF8"))
        self.doc.storeToURL(file_url(path), tuple(args))

    def close(self):
        self.parts = None
        if self.doc is not None:
            try:
                self.doc.close(True)
            except Exception:
                pass
            self.doc = None


def channels(request_path, reply_path):
    """The requests from the request FIFO and the function that answers one on the reply FIFO."""
    requests = open(request_path, "r", encoding="utf-8", errors="surrogateescape", newline="\n")
    replies = open(reply_path, "w", encoding="utf-8", errors="surrogateescape", newline="\n")

    def reply(line):
        replies.write(line + "\n")
        replies.flush()

    return requests, reply


def serve(requests, reply, helper, log=None):
    """Answers each request through helper.do_<command> until "quit" or the end of the requests.
    The helper's `doc` is None while no document is open; close() closes it. `log` sees each
    command as it comes."""
    for line in requests:
        fields = [unescape(f) for f in line.rstrip("\n").split("\t")]
        command = fields[0]
        if log:
            log(command)
        if command == "quit":
            break
        try:
            if command == "close":
                helper.close()
                reply("ok")
                continue
            if command not in ("open", "new") and helper.doc is None:
                raise RuntimeError("no document is open")
            do = getattr(helper, "do_" + command, None)
            if do is None:
                raise RuntimeError("unknown request " + command)
            value = do(*fields[1:])
            reply("ok" if value is None else "ok\t" + escape(value))
        except Exception as e:
            reply("err\t" + escape(str(e) or type(e).__name__))


def main():
    request_path, reply_path, profile = sys.argv[1:4]
    requests, reply = channels(request_path, reply_path)
    if uno is None:
        reply("err\t" + escape("the word processor's Python bridge (python3-uno) is not installed"))
        return 1
    try:
        office, desktop = start_office(profile)
    except Exception as e:
        reply("err\t" + escape(str(e)))
        return 1
    helper = Helper(desktop)
    reply("ok")
    try:
        serve(requests, reply, helper)
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
