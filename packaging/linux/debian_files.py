#!/usr/bin/env python3
"""Files of the Debian packages made from other sources at build time.

  debian_files.py manpage PROGRAM CHANGELOG OUTPUT.1.gz
      The program's manual page, written from what PROGRAM --help prints (so
      the page and the help never differ) and PROGRAM --version; dated by the
      changelog's latest entry, gzip -9n.
  debian_files.py metainfo TEMPLATE CHANGELOG OUTPUT
      The AppStream metainfo: TEMPLATE with @RELEASES@ replaced by one
      <release> per changelog entry (the upstream version and its date).
  debian_files.py check-version CHANGELOG VERSION
      Fails unless the changelog's latest entry is VERSION.

The help's layout: a first paragraph that starts with "<program>: " and says
what it is; then headings at the left margin, each followed by indented
lines, shown as they stand.
"""

import email.utils
import os
import re
import subprocess
import sys

ENTRY = re.compile(r'^(\S+) \(([^)]+)\) ')
TRAILER = re.compile(r'^ -- .+ <.+>  (.+)$')


def changelog_entries(path):
    """(version, datetime) of every entry, latest first."""
    entries, version = [], None
    with open(path, encoding='utf-8') as f:
        for line in f:
            head = ENTRY.match(line)
            if head:
                version = head.group(2)
                continue
            trailer = TRAILER.match(line.rstrip('\n'))
            if trailer and version:
                entries.append((version, email.utils.parsedate_to_datetime(trailer.group(1))))
                version = None
    if not entries:
        sys.exit('%s: no changelog entry' % path)
    return entries


def roff_text(text):
    """A line of text as roff: backslashes and minus signs escaped, and a line
    that starts with a control character made plain text."""
    text = text.replace('\\', '\\e').replace('-', '\\-')
    return '\\&' + text if text.startswith(('.', "'")) else text


def manpage(program, help_text, version_line, date):
    name = os.path.basename(program)
    paragraphs = help_text.rstrip('\n').split('\n\n', 1)
    intro = ' '.join(paragraphs[0].split())
    if not intro.startswith(name + ': '):
        sys.exit('%s --help does not start with "%s: "' % (name, name))
    summary = intro[len(name) + 2:]
    summary = re.split(r'(?<=\.)\s', summary, maxsplit=1)[0].rstrip('.')
    out = ['.TH %s 1 "%s" "%s" "User Commands"' % (
               name.upper(), date.strftime('%Y-%m-%d'), roff_text(version_line.strip())),
           '.nh', '.ad l',
           '.SH NAME', '%s \\- %s' % (roff_text(name), roff_text(summary)),
           '.SH DESCRIPTION', roff_text(intro)]
    in_block = False
    for line in (paragraphs[1] if len(paragraphs) > 1 else '').split('\n'):
        if line and not line[0].isspace():
            if in_block:
                out.append('.fi')
                in_block = False
            out.append('.SH "%s"' % roff_text(line).replace('"', '\\(dq'))
            continue
        if not in_block:
            out.append('.nf')
            in_block = True
        # Headings' lines are indented by two in the help; the section indents them.
        out.append(roff_text(line[2:] if line.startswith('  ') else line.strip()))
    if in_block:
        out.append('.fi')
    return '\n'.join(out) + '\n'


def run(program, option):
    result = subprocess.run([program, option], capture_output=True, text=True, timeout=30)
    if result.returncode != 0:
        sys.exit('%s %s ended with %d: %s' % (program, option, result.returncode, result.stderr))
    return result.stdout


def main():
    job = sys.argv[1] if len(sys.argv) > 1 else ''
    if job == 'manpage' and len(sys.argv) == 5:
        program, changelog, output = sys.argv[2:]
        page = manpage(program, run(program, '--help'), run(program, '--version'),
                       changelog_entries(changelog)[0][1])
        with open(output, 'wb') as f:
            subprocess.run(['gzip', '-9n'], input=page.encode('utf-8'), stdout=f, check=True)
    elif job == 'metainfo' and len(sys.argv) == 5:
        template, changelog, output = sys.argv[2:]
        releases = ''.join(
            '\n    <release version="%s" date="%s"/>' % (version.rsplit('-', 1)[0],
                                                        when.strftime('%Y-%m-%d'))
            for version, when in changelog_entries(changelog))
        with open(template, encoding='utf-8') as f:
            text = f.read()
        with open(output, 'w', encoding='utf-8') as f:
            f.write(text.replace('@RELEASES@', releases + '\n  '))
    elif job == 'check-version' and len(sys.argv) == 4:
        latest = changelog_entries(sys.argv[2])[0][0]
        if latest != sys.argv[3]:
            sys.exit('%s: the latest entry is %s, the package is %s: add an entry' %
                     (sys.argv[2], latest, sys.argv[3]))
    else:
        sys.exit(__doc__)


if __name__ == '__main__':
    main()
