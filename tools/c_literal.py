"""The string literal that the generators in tools/ write for a text's bytes, read alike by the C++
compiler and the resource compiler."""


def c_literal(data):
    # Octal escapes for everything outside plain printable ASCII keep the bytes exact; the
    # question mark is escaped too, so that no pair of them can read as a trigraph.
    return '"' + ''.join(chr(b) if 0x20 <= b < 0x7F and chr(b) not in '"\\?' else '\\%03o' % b
                         for b in data) + '"'
