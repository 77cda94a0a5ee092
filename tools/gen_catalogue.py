#!/usr/bin/env python3
"""Turns a message catalogue (report/catalogue.txt, Qorvalin's; dump/catalogue.txt, QVDUMP's)
into the message number header and the resource script's string table, and as asked into the
table that the native builds look texts up in. The Python harness reads the catalogues and the
control numbers of report/controls.h with the same functions (harness/catalogue.py)."""
import argparse
import re

ESCAPES = {'r': '\r', 'n': '\n', 't': '\t', '\\': '\\'}


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == '\\':
            if i + 1 >= len(text) or text[i + 1] not in ESCAPES:
                raise ValueError('bad escape in %r' % text)
            out.append(ESCAPES[text[i + 1]])
            i += 2
        else:
            out.append(text[i])
            i += 1
    return ''.join(out)


def read_catalogue(path):
    entries = []
    with open(path, encoding='ascii') as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip('\n')
            if not line or line.startswith('#'):
                continue
            number, symbol, text = line.split('\t')
            text = unescape(text)
            if not 0 < len(text) <= 255:
                raise ValueError('%s:%d: a text holds 1 to 255 characters' % (path, lineno))
            entries.append((int(number), symbol, text))
    numbers = [n for n, _, _ in entries]
    if numbers != sorted(set(numbers)):
        raise ValueError('%s: numbers must ascend without repeats' % path)
    return entries


def read_controls(path):
    """The dialog controls' numbers by symbol: every line of the header that is not a comment,
    a guard or blank must define one."""
    controls = {}
    with open(path, encoding='ascii') as f:
        for lineno, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith(('//', '#ifndef', '#endif', '#define QORVALIN_')):
                continue
            found = re.fullmatch(r'#define (IDC_\w+) (\d+)', line)
            if not found:
                raise ValueError('%s:%d: not a control number: %r' % (path, lineno, line))
            controls[found.group(1)] = int(found.group(2))
    return controls


def main():
    # Run as a script from the build: the literal writer stands beside it.
    from c_literal import c_literal
    parser = argparse.ArgumentParser()
    parser.add_argument('source')
    parser.add_argument('--header', required=True)
    parser.add_argument('--rc', required=True)
    parser.add_argument('--table')
    args = parser.parse_args()
    entries = read_catalogue(args.source)
    origin = '(generated from %s)' % '/'.join(args.source.replace('\\', '/').split('/')[-2:])
    guard = re.sub(r'\W', '_', args.header.split('/')[-2] + '_' + args.header.split('/')[-1]).upper()
    with open(args.header, 'w', newline='\n') as f:
        f.write('// Message numbers of the catalogue %s.\n' % origin)
        f.write('#ifndef QORVALIN_%s\n#define QORVALIN_%s\n' % (guard, guard))
        for number, symbol, _ in entries:
            f.write('#define %s %d\n' % (symbol, number))
        f.write('#endif\n')
    with open(args.rc, 'w', newline='\n') as f:
        f.write('// The message catalogue %s.\n' % origin)
        f.write('LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\nSTRINGTABLE\nBEGIN\n')
        for number, _, text in entries:
            f.write('    %d %s\n' % (number, c_literal(text.encode('ascii'))))
        f.write('END\n')
    if args.table:
        with open(args.table, 'w', newline='\n') as f:
            f.write('// The message catalogue %s.\n' % origin)
            for number, _, text in entries:
                f.write('{%d, %s},\n' % (number, c_literal(text.encode('ascii'))))


if __name__ == '__main__':
    main()
