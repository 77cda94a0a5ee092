#!/usr/bin/env python3
"""Reads the compiled resource script back and checks every template, control, icon, the logo,
the version block and the string table against what the program must contain.

usage: test_res.py QORVALIN.RES CATALOGUE.TXT"""
import struct
import sys
import unittest

import resfile  # the script's own folder is on the import path

RES_PATH = None
CATALOGUE_PATH = None

ENGLISH_US = 0x0409

WS_POPUP = 0x80000000
WS_CHILD = 0x40000000
WS_VISIBLE = 0x10000000
WS_CAPTION = 0x00C00000
WS_BORDER = 0x00800000
WS_VSCROLL = 0x00200000
WS_SYSMENU = 0x00080000
WS_GROUP = 0x00020000
WS_TABSTOP = 0x00010000
WS_MINIMIZEBOX = 0x00020000
DS_MODALFRAME = 0x80
DS_SETFONT = 0x40
DS_CENTER = 0x800
WS_EX_CLIENTEDGE = 0x200
BS_PUSHBUTTON = 0
BS_DEFPUSHBUTTON = 1
SS_LEFT = 0
SS_ICON = 3
SS_BITMAP = 0x0E
SS_NOPREFIX = 0x80
SS_CENTERIMAGE = 0x200
SS_REALSIZEIMAGE = 0x800
ES_MULTILINE = 0x4
ES_AUTOVSCROLL = 0x40
ES_READONLY = 0x800
LBS_NOTIFY = 0x1
LBS_USETABSTOPS = 0x80
LBS_NOINTEGRALHEIGHT = 0x100
LBS_NOSEL = 0x4000

CHILD = WS_CHILD | WS_VISIBLE
MODAL_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT

# (identifier, class, text, (x, y, w, h), style, extended style)
MAIN_CONTROLS = [
    (1010, 'BUTTON', 'Close', (242, 8, 50, 14), CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON, 0),
    (1011, 'BUTTON', 'About', (242, 27, 50, 14), CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0),
    (1020, 'STATIC', '', (42, 8, 188, 46), CHILD | WS_GROUP | SS_LEFT, 0),
    (1012, 'BUTTON', 'Details >>', (242, 46, 50, 14), CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0),
    (1021, 'STATIC', '', (8, 12, 21, 20), CHILD | SS_ICON, 0),
    (1018, 'EDIT', '', (8, 70, 284, 60),
     CHILD | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 0),
    (-1, 'STATIC', 'More Information:', (8, 58, 82, 8), CHILD | WS_GROUP | SS_LEFT, 0),
    (1019, 'LISTBOX', '', (8, 150, 284, 60),
     CHILD | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_USETABSTOPS | LBS_NOINTEGRALHEIGHT |
     LBS_NOSEL, 0),
    (1024, 'STATIC', 'Details:', (8, 138, 82, 8), CHILD | WS_GROUP | SS_LEFT, 0),
]

SPLASH_TEXT = ('This program determines if your system supports Universal Serial Bus (USB) '
               'devices.\r\n\r\nPress Continue to perform the tests or Close to exit the program.')
SPLASH_CONTROLS = [
    (1022, 'BUTTON', 'Continue', (35, 104, 50, 14), CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON, 0),
    (1010, 'BUTTON', 'Close', (135, 104, 50, 14), CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0),
    (-1, 'STATIC', 'IDB_ORVLOGO', (35, 8, 150, 40),
     CHILD | SS_BITMAP | SS_CENTERIMAGE | SS_REALSIZEIMAGE, WS_EX_CLIENTEDGE),
    (1023, 'STATIC', SPLASH_TEXT, (8, 58, 204, 38), CHILD | WS_GROUP | SS_LEFT, 0),
]

# The maker's notice is worded freely; only its place and style are fixed.
MAKERS_NOTICE = None
ABOUT_CONTROLS = [
    (-1, 'STATIC', 'MAINICON', (8, 8, 20, 20), CHILD | SS_ICON, 0),
    (-1, 'STATIC', 'Orvenda Qorvalin Version 2.0', (40, 10, 119, 8),
     CHILD | WS_GROUP | SS_LEFT | SS_NOPREFIX, 0),
    (1, 'BUTTON', 'OK', (202, 8, 50, 14), CHILD | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 0),
    (-1, 'STATIC', MAKERS_NOTICE, (40, 28, 163, 8), CHILD | WS_GROUP | SS_LEFT, 0),
]

# name: (extended, style, (w, h), class, caption, font, controls)
DIALOGS = {
    'QORVALIN': (False, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_SETFONT | DS_CENTER,
                 (300, 218), 'Qorvalin', 'Orvenda Qorvalin', (8, 'MS Sans Serif'),
                 MAIN_CONTROLS),
    'IDD_SPLASH_DIALOG': (True, MODAL_STYLE, (220, 126), '', 'Orvenda Qorvalin',
                          (8, 0, 0, 1, 'MS Sans Serif'), SPLASH_CONTROLS),
    'IDD_ABOUTBOX': (False, MODAL_STYLE, (260, 47), '', 'About Orvenda Qorvalin',
                     (8, 'MS Sans Serif'), ABOUT_CONTROLS),
}

FRAME_NAMES = ['%s%d' % (prefix, k) for prefix in ('USBYES', 'USBMAYB', 'USBNO')
               for k in range(1, 17)]

VERSION_STRINGS = {
    'FileDescription': 'Determine if a system supports USB.',
    'FileVersion': '2.0.0.2  ',
    'ProductVersion': '2.0.0.0  ',
    'ProductName': 'Qorvalin',
    'InternalName': 'Qorvalin.EXE',
    'OriginalFilename': 'Qorvalin.EXE',
}

ESCAPES = {'r': '\r', 'n': '\n', 't': '\t', '\\': '\\'}


def read_catalogue(path):
    texts = {}
    with open(path, encoding='ascii') as f:
        for line in f:
            line = line.rstrip('\n')
            if not line or line.startswith('#'):
                continue
            number, _, text = line.split('\t')
            out, i = [], 0
            while i < len(text):
                if text[i] == '\\':
                    out.append(ESCAPES[text[i + 1]])
                    i += 2
                else:
                    out.append(text[i])
                    i += 1
            texts[int(number)] = ''.join(out)
    return texts


def hex_word(value):
    return '0x%08X' % value


class CompiledResources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.entries = resfile.read_entries(RES_PATH)

    def find(self, kind, name):
        found = [e for e in self.entries if e['type'] == kind and e['name'] == name]
        self.assertEqual(len(found), 1, 'resource %r of type %d' % (name, kind))
        return found[0]

    def test_every_resource_is_english_us(self):
        for e in self.entries:
            self.assertEqual(e['language'], ENGLISH_US, '%r %r' % (e['type'], e['name']))

    def test_named_resources_are_exactly_the_expected_ones_and_named_by_strings(self):
        named = sorted((e['type'], e['name']) for e in self.entries
                       if e['type'] in (resfile.RT_DIALOG, resfile.RT_GROUP_ICON,
                                        resfile.RT_BITMAP))
        expected = sorted([(resfile.RT_DIALOG, name) for name in DIALOGS] +
                          [(resfile.RT_GROUP_ICON, name) for name in ['MAINICON'] + FRAME_NAMES] +
                          [(resfile.RT_BITMAP, 'IDB_ORVLOGO')])
        self.assertEqual(named, expected)

    def test_dialog_templates(self):
        for name, (extended, style, size, window_class, caption, font, controls) in \
                DIALOGS.items():
            with self.subTest(dialog=name):
                d = resfile.parse_dialog(self.find(resfile.RT_DIALOG, name)['data'])
                self.assertEqual(d['extended'], extended)
                if extended:
                    self.assertEqual(d['help'], 0)
                self.assertEqual(hex_word(d['style']), hex_word(style))
                self.assertEqual(d['exstyle'], 0)
                self.assertEqual(d['rect'], (0, 0) + size)
                self.assertEqual(d['menu'], '')
                # windres writes the class name in capitals, as it does resource names; the
                # system looks classes up without regard to case, so "QORVALIN" finds the
                # class registered as "Qorvalin".
                self.assertEqual(d['class'].upper(), window_class.upper())
                self.assertEqual(d['caption'], caption)
                self.assertEqual(d['font'], font)
                self.assertEqual(len(d['controls']), len(controls))
                for index, (control, want) in enumerate(zip(d['controls'], controls), 1):
                    ident, klass, text, rect, cstyle, cexstyle = want
                    where = '%s control %d' % (name, index)
                    self.assertEqual(control['id'], ident, where)
                    self.assertEqual(control['class'], klass, where)
                    if text is None:
                        self.assertIsInstance(control['text'], str, where)
                        self.assertTrue(control['text'].strip(), where)
                    else:
                        self.assertEqual(control['text'], text, where)
                    self.assertEqual(control['rect'], rect, where)
                    self.assertEqual(hex_word(control['style']), hex_word(cstyle), where)
                    self.assertEqual(control['exstyle'], cexstyle, where)
                    if extended:
                        self.assertEqual(control['help'], 0, where)

    def group_icon(self, name):
        data = self.find(resfile.RT_GROUP_ICON, name)['data']
        reserved, kind, count = struct.unpack_from('<HHH', data, 0)
        self.assertEqual((reserved, kind), (0, 1), name)
        images = []
        for i in range(count):
            width, height, colours, _, planes, bits, size, ident = struct.unpack_from(
                '<BBBBHHIH', data, 6 + 14 * i)
            icon = self.find(resfile.RT_ICON, ident)
            self.assertEqual(len(icon['data']), size, name)
            images.append((width, height, colours, bits))
        return images

    def test_icons(self):
        self.assertEqual(self.group_icon('MAINICON'), [(32, 32, 16, 4), (16, 16, 16, 4)])
        for name in FRAME_NAMES:
            with self.subTest(icon=name):
                self.assertEqual(self.group_icon(name), [(32, 32, 16, 4)])

    def test_logo_bitmap(self):
        data = self.find(resfile.RT_BITMAP, 'IDB_ORVLOGO')['data']
        size, width, height, planes, bits, compression = struct.unpack_from('<IiiHHI', data, 0)
        x_ppm, y_ppm = struct.unpack_from('<ii', data, 24)
        self.assertEqual((size, width, height, planes, bits, compression),
                         (40, 237, 78, 1, 24, 0))
        self.assertEqual((x_ppm, y_ppm), (3780, 3780))

    def test_version_block(self):
        root, _ = resfile.parse_version_node(self.find(resfile.RT_VERSION, 1)['data'])
        key, fixed, children = root
        self.assertEqual(key, 'VS_VERSION_INFO')
        (signature, _, file_ms, file_ls, product_ms, product_ls, mask, flags, os_kind, kind,
         subtype, date_ms, date_ls) = struct.unpack('<13I', fixed)
        self.assertEqual(signature, 0xFEEF04BD)
        self.assertEqual((file_ms, file_ls, product_ms, product_ls), (0x20000, 0, 0x20000, 0))
        self.assertEqual((mask, flags), (0x3F, 0))
        self.assertEqual((os_kind, kind, subtype), (0x4, 1, 0))  # VOS__WINDOWS32, VFT_APP
        self.assertEqual((date_ms, date_ls), (0, 0))

        blocks = {child[0]: child for child in children}
        self.assertEqual(sorted(blocks), ['StringFileInfo', 'VarFileInfo'])
        tables = blocks['StringFileInfo'][2]
        self.assertEqual([t[0] for t in tables], ['040904E4'])
        strings = {k: v.rstrip('\0') for k, v, _ in tables[0][2]}
        for field, text in VERSION_STRINGS.items():
            self.assertEqual(strings.get(field), text, field)
        # The maker's name and notice are worded freely but must be there.
        self.assertEqual(strings.get('CompanyName'), 'Orvenda')
        self.assertIn('Orvenda', strings.get('LegalCopyright', ''))
        self.assertEqual(sorted(strings), sorted(list(VERSION_STRINGS) +
                                                 ['CompanyName', 'LegalCopyright']))
        translation = blocks['VarFileInfo'][2]
        self.assertEqual([(k, v) for k, v, _ in translation],
                         [('Translation', struct.pack('<HH', 0x0409, 0x04E4))])

    def test_string_table_holds_the_catalogue_exactly(self):
        texts = {}
        for e in self.entries:
            if e['type'] == resfile.RT_STRING:
                texts.update(resfile.parse_strings(e['name'], e['data']))
        self.assertEqual(texts, read_catalogue(CATALOGUE_PATH))
        self.assertEqual(len(texts), 31)


if __name__ == '__main__':
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        sys.exit(2)
    RES_PATH, CATALOGUE_PATH = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
