"""Reads the resources linked into the i686 Qorvalin and QVDUMP back and checks every template,
control, icon, the logo, the version block and the string table against what Qorvalin must
contain, QVDUMP's icon and string table, and the application manifest of both."""
import functools
import struct
import xml.etree.ElementTree as ElementTree
from unittest.mock import ANY

import pytest

from harness import build, catalogue, pe, resfile
from harness.catalogue import (IDC_ABOUT, IDC_CLOSE, IDC_CONTINUE, IDC_DETAILS, IDC_DETAILS_LABEL,
                               IDC_DETAILS_LIST, IDC_HEADLINE, IDC_MORE_INFO, IDC_SPLASH_TEXT,
                               IDC_STATUS_ICON)
from harness.win32 import (BS_DEFPUSHBUTTON, BS_PUSHBUTTON, DS_CENTER, DS_MODALFRAME, DS_SETFONT,
                           ES_AUTOVSCROLL, ES_MULTILINE, ES_READONLY, IDOK, LANG_ENGLISH_US,
                           LBS_NOINTEGRALHEIGHT, LBS_NOSEL, LBS_NOTIFY, LBS_USETABSTOPS, RT_BITMAP,
                           RT_DIALOG, RT_GROUP_ICON, RT_ICON, RT_MANIFEST, RT_STRING, RT_VERSION,
                           SS_BITMAP, SS_CENTERIMAGE, SS_ICON, SS_LEFT, SS_NOPREFIX,
                           SS_REALSIZEIMAGE, WS_BORDER, WS_CAPTION, WS_CHILD, WS_EX_CLIENTEDGE,
                           WS_GROUP, WS_MINIMIZEBOX, WS_POPUP, WS_SYSMENU, WS_TABSTOP, WS_VISIBLE,
                           WS_VSCROLL)
from harness.window import ABOUT_TITLE, MAIN_CLASS, SPLASH_TEXT, TITLE

CHILD = WS_CHILD | WS_VISIBLE
MODAL_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT

# (identifier, class, text, (x, y, w, h), style, extended style)
MAIN_CONTROLS = [
    (IDC_CLOSE, 'BUTTON', 'Close', (242, 8, 50, 14), CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON, 0),
    (IDC_ABOUT, 'BUTTON', 'About', (242, 27, 50, 14), CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0),
    (IDC_HEADLINE, 'STATIC', '', (42, 8, 188, 46), CHILD | WS_GROUP | SS_LEFT, 0),
    (IDC_DETAILS, 'BUTTON', 'Details >>', (242, 46, 50, 14), CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0),
    (IDC_STATUS_ICON, 'STATIC', '', (8, 12, 21, 20), CHILD | SS_ICON, 0),
    (IDC_MORE_INFO, 'EDIT', '', (8, 70, 284, 60),
     CHILD | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 0),
    (-1, 'STATIC', 'More Information:', (8, 58, 82, 8), CHILD | WS_GROUP | SS_LEFT, 0),
    (IDC_DETAILS_LIST, 'LISTBOX', '', (8, 150, 284, 60),
     CHILD | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_USETABSTOPS | LBS_NOINTEGRALHEIGHT |
     LBS_NOSEL, 0),
    (IDC_DETAILS_LABEL, 'STATIC', 'Details:', (8, 138, 82, 8), CHILD | WS_GROUP | SS_LEFT, 0),
]

SPLASH_CONTROLS = [
    (IDC_CONTINUE, 'BUTTON', 'Continue', (35, 104, 50, 14), CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON, 0),
    (IDC_CLOSE, 'BUTTON', 'Close', (135, 104, 50, 14), CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0),
    (-1, 'STATIC', 'IDB_ORVLOGO', (35, 8, 150, 40),
     CHILD | SS_BITMAP | SS_CENTERIMAGE | SS_REALSIZEIMAGE, WS_EX_CLIENTEDGE),
    (IDC_SPLASH_TEXT, 'STATIC', SPLASH_TEXT, (8, 58, 204, 38), CHILD | WS_GROUP | SS_LEFT, 0),
]

# The maker's notice is worded freely; only its place and style are fixed.
MAKERS_NOTICE = None
ABOUT_CONTROLS = [
    (-1, 'STATIC', 'MAINICON', (8, 8, 20, 20), CHILD | SS_ICON, 0),
    (-1, 'STATIC', 'Orvenda Qorvalin Version 2.0', (40, 10, 119, 8),
     CHILD | WS_GROUP | SS_LEFT | SS_NOPREFIX, 0),
    (IDOK, 'BUTTON', 'OK', (202, 8, 50, 14), CHILD | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 0),
    (-1, 'STATIC', MAKERS_NOTICE, (40, 28, 163, 8), CHILD | WS_GROUP | SS_LEFT, 0),
]

# name: (extended, style, (w, h), class, caption, font, controls)
DIALOGS = {
    'QORVALIN': (False, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_SETFONT | DS_CENTER,
                 (300, 218), MAIN_CLASS, TITLE, (8, 'MS Sans Serif'),
                 MAIN_CONTROLS),
    'IDD_SPLASH_DIALOG': (True, MODAL_STYLE, (220, 126), '', TITLE,
                          (8, 0, 0, 1, 'MS Sans Serif'), SPLASH_CONTROLS),
    'IDD_ABOUTBOX': (False, MODAL_STYLE, (260, 47), '', ABOUT_TITLE,
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

def hex_word(value):
    return '0x%08X' % value


@functools.lru_cache(maxsize=None)
def read_program(name):
    """The resources of the program the build calls name as (type, name, language, bytes), and
    its string table by message number."""
    image = pe.read(build.path(name))
    strings = {number: text for kind in image.DIRECTORY_ENTRY_RESOURCE.entries
               if kind.id == RT_STRING for block in kind.directory.entries
               for number, text in block.directory.strings.items()}
    return [(kind, ident, language, pe.resource_data(image, entry))
            for kind, ident, language, entry in pe.resource_entries(image)], strings


def find(kind, name, program='win32_exe'):
    found = [data for t, n, _, data in read_program(program)[0] if (t, n) == (kind, name)]
    assert len(found) == 1, 'resource %r of type %d' % (name, kind)
    return found[0]


def not_english_us(program):
    return [(kind, name) for kind, name, language, _ in read_program(program)[0]
            if language != LANG_ENGLISH_US]


def test_every_resource_is_english_us():
    assert not_english_us('win32_exe') == []


def test_named_resources_are_exactly_the_expected_ones_and_named_by_strings():
    named = sorted((kind, name) for kind, name, _, _ in read_program('win32_exe')[0]
                   if kind in (RT_DIALOG, RT_GROUP_ICON, RT_BITMAP))
    expected = sorted([(RT_DIALOG, name) for name in DIALOGS] +
                      [(RT_GROUP_ICON, name) for name in ['MAINICON'] + FRAME_NAMES] +
                      [(RT_BITMAP, 'IDB_ORVLOGO')])
    assert named == expected


@pytest.mark.parametrize('name', DIALOGS)
def test_dialog_template(name):
    extended, style, size, window_class, caption, font, controls = DIALOGS[name]
    d = resfile.parse_dialog(find(RT_DIALOG, name))
    # windres writes the class name in capitals, as it does resource names; the system looks
    # classes up without regard to case, so "QORVALIN" finds the class registered as "Qorvalin".
    assert (d['extended'], hex_word(d['style']), d['exstyle'], d['rect'], d['menu'],
            d['class'].upper(), d['caption'], d['font'], len(d['controls'])) == \
        (extended, hex_word(style), 0, (0, 0) + size, '', window_class.upper(), caption, font,
         len(controls))
    if extended:
        assert d['help'] == 0
    for index, (control, want) in enumerate(zip(d['controls'], controls), 1):
        ident, klass, text, rect, cstyle, cexstyle = want
        where = '%s control %d' % (name, index)
        if text is None:
            assert isinstance(control['text'], str) and control['text'].strip(), where
            text = control['text']
        assert (control['id'], control['class'], control['text'], control['rect'],
                hex_word(control['style']), control['exstyle']) == \
            (ident, klass, text, rect, hex_word(cstyle), cexstyle), where
        if extended:
            assert control['help'] == 0, where


def group_icon(name):
    data = find(RT_GROUP_ICON, name)
    reserved, kind, count = struct.unpack_from('<HHH', data, 0)
    assert (reserved, kind) == (0, 1), name
    images = []
    for i in range(count):
        width, height, colours, _, planes, bits, size, ident = struct.unpack_from(
            '<BBBBHHIH', data, 6 + 14 * i)
        assert len(find(RT_ICON, ident)) == size, name
        images.append((width, height, colours, bits))
    return images


def test_icons():
    assert group_icon('MAINICON') == [(32, 32, 16, 4), (16, 16, 16, 4)]
    assert {name: group_icon(name) for name in FRAME_NAMES} == \
        {name: [(32, 32, 16, 4)] for name in FRAME_NAMES}


def test_logo_bitmap():
    data = find(RT_BITMAP, 'IDB_ORVLOGO')
    assert struct.unpack_from('<IiiHHI', data, 0) == (40, 237, 78, 1, 24, 0)
    assert struct.unpack_from('<ii', data, 24) == (3780, 3780)


def test_version_block():
    (key, fixed, children), _ = resfile.parse_version_node(find(RT_VERSION, 1))
    assert key == 'VS_VERSION_INFO'
    # Signature, any structure version, file and product versions, flags' mask and flags, the
    # system (VOS__WINDOWS32), type (VFT_APP) and subtype, and date.
    assert struct.unpack('<13I', fixed) == \
        (0xFEEF04BD, ANY, 0x20000, 0, 0x20000, 0, 0x3F, 0, 0x4, 1, 0, 0, 0)
    blocks = {child[0]: child[2] for child in children}
    assert sorted(blocks) == ['StringFileInfo', 'VarFileInfo']
    tables = blocks['StringFileInfo']
    assert [t[0] for t in tables] == ['040904E4']
    strings = {k: v.rstrip('\0') for k, v, _ in tables[0][2]}
    # The maker's name and notice are worded freely but must be there.
    assert 'Orvenda' in strings.pop('LegalCopyright', '')
    assert strings == dict(VERSION_STRINGS, CompanyName='Orvenda')
    assert [(k, v) for k, v, _ in blocks['VarFileInfo']] == \
        [('Translation', struct.pack('<HH', LANG_ENGLISH_US, 0x04E4))]


def test_string_table_holds_the_catalogue_exactly():
    texts = read_program('win32_exe')[1]
    assert texts == catalogue.TEXTS
    assert len(texts) == 31


def test_qvdump_holds_the_icon_and_its_own_catalogue_exactly():
    assert not_english_us('win32_qvdump') == []
    assert [(kind, name) for kind, name, _, _ in read_program('win32_qvdump')[0]
            if kind == RT_GROUP_ICON] == [(RT_GROUP_ICON, 'MAINICON')]
    assert read_program('win32_qvdump')[1] == catalogue.DUMP_TEXTS


ASM_V1, ASM_V3 = "urn:schemas-microsoft-com:asm.v1", "urn:schemas-microsoft-com:asm.v3"


def test_both_programs_carry_one_manifest_that_runs_them_as_invoked():
    manifests = [[(name, language, data) for kind, name, language, data in read_program(program)[0]
                  if kind == RT_MANIFEST] for program in ('win32_exe', 'win32_qvdump')]
    assert [[(name, language) for name, language, _ in found] for found in manifests] == \
        [[(1, LANG_ENGLISH_US)]] * 2
    text = manifests[0][0][2]
    assert manifests[1][0][2] == text
    # Each program grows by the manifest alone; Windows XP SP2 fails on a namespace declared
    # twice; a supportedOS list would change the version Windows 8.1 and later report, and DPI
    # awareness would let the fixed-size art be drawn unscaled.
    assert len(text) <= 1024
    assert text.count(ASM_V3.encode()) == 1
    assert b"supportedOS" not in text and b"dpiAware" not in text
    root = ElementTree.fromstring(text)
    assert (root.tag, root.get("manifestVersion")) == ("{%s}assembly" % ASM_V1, "1.0")
    levels = root.findall("{0}trustInfo/{0}security/{0}requestedPrivileges/"
                          "{0}requestedExecutionLevel".format("{%s}" % ASM_V3))
    assert [(e.get("level"), e.get("uiAccess")) for e in levels] == [("asInvoker", "false")]
