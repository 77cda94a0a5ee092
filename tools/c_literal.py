"""The C string literal that the generators in tools/ write for a text's bytes."""


def c_literal(data):
    """Octal escapes for everything outside plain printable ASCII keep the bytes exact; the
    question mark is escaped too, so that no pair of them can read as a trigraph."""
    out = []
    for b in data:
        if 0x20 <= b < 0x7F and chr(b) not in '"\\?':
            out.append(chr(b))
        else:
            out.append('\\%03o' % b)
    return '"' + ''.join(out) + '"'
