#!/usr/bin/env python3
"""Checks the message catalogs of the window program.

- every key that the sources pass to the translation call is in lang/vexlanclient.pot, and
  (with --require-all-used) every key of the template is used by the sources;
- every catalog lang/<language>.po translates every key of the template (non-empty, not fuzzy),
  has no key of its own, keeps the format placeholders of its key, and passes msgfmt --check
  without a warning;
- every compiled catalog under --compiled/<language>/LC_MESSAGES/ holds every key.
Prints one line per problem and exits with 1 when there is any.
"""
import argparse
import glob
import os
import re
import subprocess
import sys


def unquote(text):
    body = text.strip()
    assert body.startswith('"') and body.endswith('"'), body
    body = body[1:-1]
    out, i = [], 0
    escapes = {'n': '\n', 't': '\t', 'r': '\r', '"': '"', '\\': '\\'}
    while i < len(body):
        c = body[i]
        if c == '\\' and i + 1 < len(body):
            out.append(escapes.get(body[i + 1], body[i + 1]))
            i += 2
        else:
            out.append(c)
            i += 1
    return ''.join(out)


def parse_po(text):
    """Entries as (msgid, msgstr, flags); the header (empty msgid) is left out."""
    entries = []
    msgid = msgstr = None
    flags = set()
    field = None

    def flush():
        nonlocal msgid, msgstr, flags
        if msgid is not None and msgid != '':
            entries.append((msgid, msgstr or '', flags))
        msgid = msgstr = None
        flags = set()

    for raw in text.splitlines():
        line = raw.strip()
        if not line:
            flush()
            field = None
        elif line.startswith('#,'):
            flags |= {f.strip() for f in line[2:].split(',')}
        elif line.startswith('#~'):
            entries.append(('#~obsolete', line, {'obsolete'}))
        elif line.startswith('#'):
            continue
        elif line.startswith('msgid '):
            if msgid is not None:
                flush()
            msgid, field = unquote(line[6:]), 'msgid'
        elif line.startswith('msgstr '):
            msgstr, field = unquote(line[7:]), 'msgstr'
        elif line.startswith('"'):
            if field == 'msgid':
                msgid += unquote(line)
            elif field == 'msgstr':
                msgstr += unquote(line)
        else:
            entries.append(('#~unparsed', line, {'unparsed'}))
    flush()
    return entries


PLACEHOLDER = re.compile(r'%(?:\d+\$)?[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|L|z|j|t)?[diouxXeEfgGcspn%]')


def placeholders(text):
    return [p for p in PLACEHOLDER.findall(text) if p != '%%']


def used_keys(sources):
    files = sorted(glob.glob(os.path.join(sources, '*.cpp')) +
                   glob.glob(os.path.join(sources, '*.h')))
    result = subprocess.run(
        ['xgettext', '--language=C++', '--from-code=UTF-8', '--keyword=_',
         '--keyword=wxTRANSLATE', '--keyword=wxGetTranslation:1', '--omit-header', '-o', '-']
        + files, capture_output=True, text=True, check=True)
    return {msgid for msgid, _, _ in parse_po(result.stdout)}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--sources', required=True)
    parser.add_argument('--lang', required=True)
    parser.add_argument('--compiled')
    parser.add_argument('--require-all-used', action='store_true')
    parser.add_argument('languages', nargs='+')
    args = parser.parse_args()
    problems = []

    with open(os.path.join(args.lang, 'vexlanclient.pot'), encoding='utf-8') as f:
        template = parse_po(f.read())
    keys = [msgid for msgid, _, _ in template]
    key_set = set(keys)
    if len(keys) != len(key_set):
        problems.append('vexlanclient.pot: a key appears twice')
    format_keys = {msgid for msgid, _, flags in template if 'c-format' in flags}

    used = used_keys(args.sources)
    for key in sorted(used - key_set):
        problems.append('sources use "%s", which vexlanclient.pot lacks' % key)
    if args.require_all_used:
        for key in sorted(key_set - used):
            problems.append('vexlanclient.pot has "%s", which no source uses' % key)

    for language in args.languages:
        path = os.path.join(args.lang, language + '.po')
        with open(path, encoding='utf-8') as f:
            entries = parse_po(f.read())
        seen = {}
        for msgid, msgstr, flags in entries:
            if msgid.startswith('#~'):
                problems.append('%s: stray line %s' % (path, msgstr))
                continue
            if msgid in seen:
                problems.append('%s: "%s" appears twice' % (path, msgid))
            seen[msgid] = (msgstr, flags)
        for key in keys:
            if key not in seen:
                problems.append('%s: "%s" is missing' % (path, key))
                continue
            msgstr, flags = seen[key]
            if not msgstr.strip():
                problems.append('%s: "%s" is not translated' % (path, key))
            if 'fuzzy' in flags:
                problems.append('%s: "%s" is fuzzy' % (path, key))
            if sorted(placeholders(key)) != sorted(placeholders(msgstr)):
                problems.append('%s: "%s" changes the placeholders' % (path, key))
            if key in format_keys and 'c-format' not in flags:
                problems.append('%s: "%s" lacks the c-format flag' % (path, key))
        for key in sorted(set(seen) - key_set):
            problems.append('%s: "%s" is not a key of vexlanclient.pot' % (path, key))

        check = subprocess.run(['msgfmt', '--check', '-o', os.devnull, path],
                               capture_output=True, text=True)
        if check.returncode != 0 or check.stderr.strip():
            problems.append('%s: msgfmt --check: %s' % (path, check.stderr.strip()))

        if args.compiled:
            mo = os.path.join(args.compiled, language, 'LC_MESSAGES', 'vexlanclient.mo')
            if not os.path.isfile(mo):
                problems.append('%s is missing' % mo)
            else:
                dump = subprocess.run(['msgunfmt', mo], capture_output=True, text=True,
                                      check=True).stdout
                compiled = {msgid for msgid, msgstr, _ in parse_po(dump) if msgstr}
                for key in sorted(key_set - compiled):
                    problems.append('%s: "%s" is missing' % (mo, key))

    for problem in problems:
        print(problem)
    print('%d keys, %d catalogs, %d problems' % (len(keys), len(args.languages), len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
