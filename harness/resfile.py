"""Reads a compiled Win32 resource file (.res): its entries and the dialog, version and string
table resources inside them."""
import struct

from harness.win32 import DS_SETFONT

# The predefined control classes, which templates name by an ordinal atom.
CLASS_ATOMS = {0x80: 'BUTTON', 0x81: 'EDIT', 0x82: 'STATIC', 0x83: 'LISTBOX',
               0x84: 'SCROLLBAR', 0x85: 'COMBOBOX'}


class Cursor:
    def __init__(self, data, offset=0):
        self.data = data
        self.offset = offset

    def take(self, fmt):
        values = struct.unpack_from('<' + fmt, self.data, self.offset)
        self.offset += struct.calcsize('<' + fmt)
        return values if len(values) > 1 else values[0]

    def align(self, boundary=4):
        self.offset = (self.offset + boundary - 1) // boundary * boundary

    def wide_string(self):
        end = self.offset
        while struct.unpack_from('<H', self.data, end)[0] != 0:
            end += 2
        text = self.data[self.offset:end].decode('utf-16-le')
        self.offset = end + 2
        return text

    def name_or_ordinal(self):
        """A string, or an int for the 0xFFFF-prefixed ordinal form; '' for an empty string."""
        first = struct.unpack_from('<H', self.data, self.offset)[0]
        if first == 0xFFFF:
            self.offset += 2
            return self.take('H')
        return self.wide_string()


def read_entries(path):
    """Yields dicts with type, name, language and data for every resource of the file."""
    with open(path, 'rb') as f:
        data = f.read()
    entries = []
    offset = 0
    while offset < len(data):
        r = Cursor(data, offset)
        data_size, header_size = r.take('II')
        kind = r.name_or_ordinal()
        name = r.name_or_ordinal()
        r.align()
        _, _, language, _, _ = r.take('IHHII')
        start = offset + header_size
        body = data[start:start + data_size]
        if not (data_size == 0 and kind == 0 and name == 0):
            entries.append({'type': kind, 'name': name, 'language': language, 'data': body})
        offset = (start + data_size + 3) // 4 * 4
    return entries


def parse_dialog(data):
    r = Cursor(data)
    extended = struct.unpack_from('<HH', data, 0) == (1, 0xFFFF)
    dialog = {'extended': extended}
    if extended:
        r.take('HH')
        dialog['help'], dialog['exstyle'], dialog['style'] = r.take('III')
    else:
        dialog['style'], dialog['exstyle'] = r.take('II')
    count = r.take('H')
    dialog['rect'] = r.take('hhhh')
    dialog['menu'] = r.name_or_ordinal()
    dialog['class'] = r.name_or_ordinal()
    dialog['caption'] = r.wide_string()
    dialog['font'] = None
    if dialog['style'] & DS_SETFONT:
        if extended:
            size, weight, italic, charset = r.take('HHBB')
            dialog['font'] = (size, weight, italic, charset, r.wide_string())
        else:
            dialog['font'] = (r.take('H'), r.wide_string())
    controls = []
    for _ in range(count):
        r.align()
        control = {}
        if extended:
            control['help'], control['exstyle'], control['style'] = r.take('III')
            control['rect'] = r.take('hhhh')
            control['id'] = r.take('i')
        else:
            control['style'], control['exstyle'] = r.take('II')
            control['rect'] = r.take('hhhh')
            control['id'] = r.take('h')
        kind = r.name_or_ordinal()
        control['class'] = CLASS_ATOMS.get(kind, kind) if isinstance(kind, int) else kind
        control['text'] = r.name_or_ordinal()
        extra = r.take('H')
        r.offset += extra
        controls.append(control)
    dialog['controls'] = controls
    return dialog


def parse_strings(block_id, data):
    """The up to 16 texts of one string table block, by message number."""
    r = Cursor(data)
    texts = {}
    for i in range(16):
        length = r.take('H')
        text = data[r.offset:r.offset + 2 * length].decode('utf-16-le')
        r.offset += 2 * length
        if length:
            texts[(block_id - 1) * 16 + i] = text
    return texts


def parse_version_node(data, offset=0):
    """One node of the version block: (key, value, children); value is bytes or text."""
    r = Cursor(data, offset)
    length, value_length, kind = r.take('HHH')
    key = r.wide_string()
    r.align()
    if kind == 1:
        value = data[r.offset:r.offset + 2 * value_length].decode('utf-16-le')
        r.offset += 2 * value_length
    else:
        value = data[r.offset:r.offset + value_length]
        r.offset += value_length
    r.align()
    children = []
    end = offset + length
    while r.offset < end:
        child, child_end = parse_version_node(data, r.offset)
        children.append(child)
        r.offset = (child_end + 3) // 4 * 4
    return (key, value, children), end
