#!/usr/bin/env python3
"""Compiles the message catalogue: orlivan.pot (the English texts and their
ids) and one <language>.po per translation into C++ that both programs build
in, and checks what it compiles.

  compile_catalogue.py PO_DIR OUT_DIR            writes message_ids.inc and
                                                 message_table.inc
  compile_catalogue.py PO_DIR --check-used SRC [FILE...]
                                                 every id is used in SRC, and
                                                 the FILEs pass --desktop
  compile_catalogue.py PO_DIR --text LANGUAGE ID  prints one text (for scripts)
  compile_catalogue.py PO_DIR --desktop FILE...  every desktop entry (.desktop)
                                                 carries the translated
                                                 GenericName, Comment and
                                                 actions' Name, every AppStream
                                                 file (.xml, .xml.in) the
                                                 translated summary and
                                                 description (--write adds
                                                 them)

A translation is refused when it lacks an id of the template, has an id the
template does not, translates another English text than the template's, is
empty, or has other placeholders (%s, %d, in order) than the English. The
pseudo-language qps-ploc is made here from the English.
"""
import html
import os
import re
import sys

LANGUAGES = ["de", "fr", "es", "pt_BR", "ru"]
PSEUDO = "qps-ploc"
PLACEHOLDER = re.compile(r"%[sd%]|%")
DESKTOP_KEYS = {"GenericName": "DesktopGenericName", "Comment": "DesktopComment"}
# Texts only the desktop entries and the AppStream metadata carry.
DESKTOP_PREFIXES = ("Desktop", "AppStream")


class CatalogueError(Exception):
    pass


def unquote(text, where):
    if len(text) < 2 or text[0] != '"' or text[-1] != '"':
        raise CatalogueError(f"{where}: expected a quoted string")
    out, i, body = [], 0, text[1:-1]
    escapes = {"n": "\n", "t": "\t", '"': '"', "\\": "\\"}
    while i < len(body):
        c = body[i]
        if c == "\\":
            if i + 1 >= len(body) or body[i + 1] not in escapes:
                raise CatalogueError(f"{where}: unknown escape")
            out.append(escapes[body[i + 1]])
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def read_po(path):
    """Entries of a .po file as {id: (english, translation)}, header skipped."""
    entries, entry, key = {}, {}, None

    def finish():
        if "msgid" in entry:
            if entry["msgid"] == "" and "msgctxt" not in entry:
                pass  # the header
            elif "msgctxt" not in entry:
                raise CatalogueError(f"{path}: the text {entry['msgid']!r} has no id (msgctxt)")
            elif entry["msgctxt"] in entries:
                raise CatalogueError(f"{path}: id {entry['msgctxt']} appears twice")
            else:
                entries[entry["msgctxt"]] = (entry["msgid"], entry.get("msgstr", ""))
        entry.clear()

    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            where = f"{path}:{number}"
            if not line or line.startswith("#"):
                if not line and entry:
                    finish()
                    key = None
                continue
            m = re.match(r"(msgctxt|msgid|msgstr)\s+(.*)$", line)
            if m:
                if m.group(1) in entry or (m.group(1) == "msgctxt" and entry):
                    finish()
                key = m.group(1)
                entry[key] = unquote(m.group(2), where)
            elif line.startswith('"') and key:
                entry[key] += unquote(line, where)
            else:
                raise CatalogueError(f"{where}: cannot read {line!r}")
    finish()
    return entries


def placeholders(text):
    return [p for p in PLACEHOLDER.findall(text) if p != "%%"]


def check_translation(language, template, entries):
    errors = []
    for key, english in template.items():
        if key not in entries:
            errors.append(f"{language}.po: {key} is missing")
            continue
        source, translation = entries[key]
        if source != english:
            errors.append(f"{language}.po: {key} translates {source!r}, the template says {english!r}")
        if not translation:
            errors.append(f"{language}.po: {key} is not translated")
        elif placeholders(translation) != placeholders(english):
            errors.append(f"{language}.po: {key} has the placeholders {placeholders(translation)}, "
                          f"the English {placeholders(english)}")
    for key in entries:
        if key not in template:
            errors.append(f"{language}.po: {key} is not an id of the template")
    if errors:
        raise CatalogueError("\n".join(errors))


ACCENTS = dict(zip("aceinorsuyAEIOUCNSY", "áçéîñöŕšûýÅÉÎÖÛÇÑŠÝ"))


def pseudo(text):
    """Accented letters, placeholders and line breaks kept, about 40 % longer."""
    out = []
    for piece in re.split(r"(%[sd%])", text):
        out.append(piece if PLACEHOLDER.fullmatch(piece) else "".join(ACCENTS.get(c, c) for c in piece))
    body = "".join(out)
    padding = max(2, (len(text) * 2 + 4) // 5)
    filler = ("·" * padding)[: padding - 2]
    return "[" + body + " " + filler + "]"


def without_mnemonic(text):
    """A menu text as a place without access keys shows it: "&" before the
    access key dropped, "&&" one "&"."""
    return re.sub(r"&(.?)", r"\1", text)


def catalogue(po_dir):
    template = {k: e for k, (e, _) in read_po(os.path.join(po_dir, "orlivan.pot")).items()}
    table = {"en": dict(template)}
    for language in LANGUAGES:
        entries = read_po(os.path.join(po_dir, language + ".po"))
        check_translation(language, template, entries)
        table[language] = {k: t for k, (_, t) in entries.items()}
    table[PSEUDO] = {k: pseudo(e) for k, e in template.items()}
    return list(template), table


def c_literal(text):
    out = []
    for byte in text.encode("utf-8"):
        c = chr(byte)
        if c == "\\" or c == '"':
            out.append("\\" + c)
        elif c == "\n":
            out.append("\\n")
        elif 32 <= byte < 127:
            out.append(c)
        else:
            out.append("\\%03o" % byte)
    return '"' + "".join(out) + '"'


def write_if_changed(path, text):
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def write_sources(ids, table, out_dir):
    os.makedirs(out_dir, exist_ok=True)
    head = "// Generated by po/compile_catalogue.py from po/*.po; do not edit.\n"
    write_if_changed(os.path.join(out_dir, "message_ids.inc"),
                     head + "".join(f"ORLIVAN_MESSAGE({k})\n" for k in ids))
    rows = []
    for language, texts in table.items():
        rows.append("    {%s,\n     {\n%s\n     }},\n" % (
            c_literal(language), ",\n".join("         " + c_literal(texts[k]) for k in ids)))
    write_if_changed(os.path.join(out_dir, "message_table.inc"), head + "".join(rows))


def check_used(ids, src_dir):
    sources = []
    for root, _, files in os.walk(src_dir):
        for name in files:
            if name.endswith((".cpp", ".h")):
                with open(os.path.join(root, name), encoding="utf-8") as f:
                    sources.append(f.read())
    text = "\n".join(sources)
    unused = [k for k in ids if not k.startswith(DESKTOP_PREFIXES) and f"MessageId::{k}" not in text]
    if unused:
        raise CatalogueError("ids no program uses: " + ", ".join(unused))


def translated_paragraphs(table, english, text):
    """An AppStream description's paragraphs, each followed by its
    translations; the English paragraph is found by its words (the file may
    wrap it over lines)."""
    text = re.sub(r'\n\s*<p xml:lang="[^"]*">[^<]*</p>', "", text)

    def add(m):
        words = " ".join(m.group(2).split())
        if words not in english:
            raise CatalogueError(f"the paragraph {words[:40]!r}... is no text of the template")
        return m.group(0) + "".join(
            f'\n{m.group(1)}<p xml:lang="{l}">'
            f"{html.escape(table[l][english[words]], quote=False)}</p>" for l in LANGUAGES)

    return re.sub(r"^([ \t]*)<p>([^<]*)</p>", add, text, flags=re.M)


def desktop_lines(table, path, write):
    """A desktop entry's GenericName, Comment and its actions' Name (the tray
    menu's texts, without their access keys), or an AppStream file's name, summary and description,
    followed by their translations (lines made here)."""
    english = {table["en"][k]: k for k in table["en"] if k.startswith(DESKTOP_PREFIXES)}
    menu = {without_mnemonic(table["en"][k]): k for k in table["en"] if k.startswith("Menu")}
    with open(path, encoding="utf-8") as f:
        current = f.read()
    out = []
    if path.endswith((".xml", ".xml.in")):
        tag = re.compile(r"^(\s*)<(name|summary)>([^<]*)</\2>$")
        for line in current.splitlines():
            if re.match(r"\s*<(name|summary) xml:lang=", line):
                continue
            out.append(line)
            m = tag.match(line)
            if m and m.group(3) in english:
                out.extend(f'{m.group(1)}<{m.group(2)} xml:lang="{l}">'
                           f"{html.escape(table[l][english[m.group(3)]], quote=False)}"
                           f"</{m.group(2)}>" for l in LANGUAGES)
        wanted = translated_paragraphs(table, english, "\n".join(out) + "\n")
    else:
        action = False
        for line in current.splitlines():
            if line.startswith("["):
                action = line.startswith("[Desktop Action ")
            if re.match(r"(GenericName|Comment)\[", line) or (action and line.startswith("Name[")):
                continue
            out.append(line)
            key, _, value = line.partition("=")
            if key in DESKTOP_KEYS:
                if value != table["en"][DESKTOP_KEYS[key]]:
                    raise CatalogueError(f"{path}: {key} is not the template's "
                                         f"{table['en'][DESKTOP_KEYS[key]]!r}")
                out.extend(f"{key}[{l}]={table[l][DESKTOP_KEYS[key]]}" for l in LANGUAGES)
            elif action and key == "Name":
                if value not in menu:
                    raise CatalogueError(f"{path}: the action {value!r} is no menu text of the template")
                out.extend(f"Name[{l}]={without_mnemonic(table[l][menu[value]])}"
                           for l in LANGUAGES)
        wanted = "\n".join(out) + "\n"
    if current != wanted:
        if not write:
            raise CatalogueError(f"{path} lacks the translated names (run with --write)")
        with open(path, "w", encoding="utf-8") as f:
            f.write(wanted)


def main(argv):
    try:
        ids, table = catalogue(argv[1])
        if argv[2] == "--check-used":
            check_used(ids, argv[3])
            for path in argv[4:]:
                desktop_lines(table, path, False)
        elif argv[2] == "--text":
            if argv[3] not in table or argv[4] not in table[argv[3]]:
                raise CatalogueError(f"no text {argv[4]} in {argv[3]!r}")
            print(table[argv[3]][argv[4]])
        elif argv[2] == "--desktop":
            write = "--write" in argv
            for path in (a for a in argv[3:] if a != "--write"):
                desktop_lines(table, path, write)
        else:
            write_sources(ids, table, argv[2])
    except CatalogueError as error:
        print(f"message catalogue: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
