"""Reads the dialog templates and the version block of a program's resources back."""
import struct

from harness.win32 import DS_SETFONT

# The predefined control classes, which templates name by an ordinal atom.
CLASS_ATOMS = {0x80: 'BUTTON', 0x81: 'EDIT', 0x82: 'STATIC', 0x83: 'LISTBOX',
               0x84: 'SCROLLBAR', 0x85: 'COMBOBOX'}


class Cursor:
    def __init__(self, data, offset=0):
        self.data, self.offset = data, offset

    def take(self, fmt):
        values = struct.unpack_from('<' + fmt, self.data, self.offset)
        self.offset += struct.calcsize('<' + fmt)
        return values if len(values) > 1 else values[0]

    def align(self):
        self.offset = (self.offset + 3) // 4 * 4

    def wide_string(self):
        end = self.offset
        while struct.unpack_from('<H', self.data, end)[0]:
            end += 2
        text = self.data[self.offset:end].decode('utf-16-le')
        self.offset = end + 2
        return text

    def name_or_ordinal(self):
        """A string, or an int for the 0xFFFF-prefixed ordinal form; '' for an empty string."""
        if self.data[self.offset:self.offset + 2] == b'\xff\xff':
            self.offset += 2
            return self.take('H')
        return self.wide_string()

    def fields(self, names, fmt):
        return dict(zip(names, self.take(fmt)))


def parse_dialog(data):
    r = Cursor(data)
    extended = struct.unpack_from('<HH', data, 0) == (1, 0xFFFF)
    head = ('help', 'exstyle', 'style') if extended else ('style', 'exstyle')
    if extended:
        r.take('HH')
    dialog = dict(r.fields(head, 'I' * len(head)), extended=extended)
    count = r.take('H')
    dialog.update({'rect': r.take('hhhh'), 'menu': r.name_or_ordinal(),
                   'class': r.name_or_ordinal(), 'caption': r.wide_string(), 'font': None})
    if dialog['style'] & DS_SETFONT:
        dialog['font'] = ((*r.take('HHBB'), r.wide_string()) if extended
                          else (r.take('H'), r.wide_string()))
    dialog['controls'] = []
    for _ in range(count):
        r.align()
        control = dict(r.fields(head, 'I' * len(head)), rect=r.take('hhhh'),
                       id=r.take('i' if extended else 'h'))
        kind = r.name_or_ordinal()
        control.update({'class': CLASS_ATOMS.get(kind, kind), 'text': r.name_or_ordinal()})
        extra = r.take('H')
        r.offset += extra
        dialog['controls'].append(control)
    return dialog


def parse_version_node(data, offset=0):
    """One node of the version block: (key, value, children), and where it ends; value is bytes,
    or text for a node of type 1."""
    r = Cursor(data, offset)
    length, value_length, kind = r.take('HHH')
    key = r.wide_string()
    r.align()
    size = 2 * value_length if kind == 1 else value_length
    value = data[r.offset:r.offset + size]
    r.offset += size
    r.align()
    children = []
    while r.offset < offset + length:
        child, child_end = parse_version_node(data, r.offset)
        children.append(child)
        r.offset = (child_end + 3) // 4 * 4
    return (key, value.decode('utf-16-le') if kind == 1 else value, children), offset + length
