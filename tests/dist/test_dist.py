"""Makes the release files twice with tools/dist.sh, the second time a few seconds later, from
another folder, with a relative output folder and another umask, and reads them back: the same
bytes both times; the programs and README.TXT in the zip, on the floppy and in both trees of the
CD; the floppy's format and the volume labels; the CD's 8.3 names; README.TXT plain ASCII with
CR LF and the program's version; SHA256SUMS."""
import os
import re
import shutil
import struct
import subprocess
import time
import zipfile
from pathlib import Path

import pytest

from harness import Unavailable, build, pe, scripts

DIST_SH = scripts.RELEASE_FILES

CONTENTS = ['QORVALIN.EXE', 'QVDUMP.EXE', 'README.TXT']
FLOPPY_SIZE = 1474560
CD_SECTOR = 2048
LEVEL1_NAME = re.compile(r'[A-Z0-9_]{1,8}\.[A-Z0-9_]{0,3}(;1)?$')
JOLIET_ESCAPES = (b'%/@', b'%/C', b'%/E')
MTOOLS_ENV = dict(os.environ, MTOOLS_SKIP_CHECK='1', MTOOLSRC='/dev/null')


def read_zip(path):
    with zipfile.ZipFile(path) as archive:
        assert archive.testzip() is None, 'a member of %s fails its CRC' % path
        return {name: archive.read(name) for name in archive.namelist()}


def read_floppy(path):
    """The floppy's root folder as mtools reads it, and the boot sector's and root folder's
    view of the volume."""
    mtools = lambda *command: subprocess.run(command, env=MTOOLS_ENV, check=True,
                                             capture_output=True).stdout
    names = [entry.rsplit('/', 1)[-1]
             for entry in mtools('mdir', '-b', '-i', path, '::').decode().split()]
    files = {name: mtools('mcopy', '-n', '-i', path, '::' + name, '-') for name in names}
    image = Path(path).read_bytes()
    sector, reserved, fats, root_entries, total, media, fat_sectors = struct.unpack_from(
        '<HxHBHHBH', image, 11)
    root = (reserved + fats * fat_sectors) * sector
    entries = [image[at:at + 32] for at in range(root, root + root_entries * 32, 32)]
    labels = [e[:11] for e in entries if e[0] not in (0, 0xE5) and e[11] & 0x3F == 0x08]
    return files, {'size': len(image), 'sector': sector, 'sectors': total, 'media': media,
                   'signature': image[38], 'boot label': image[43:54], 'type': image[54:62],
                   'root labels': labels}


def read_cd(path):
    """{descriptor type: (volume id, {name: bytes})} for the primary (1) and Joliet (2) trees."""
    image = Path(path).read_bytes()
    trees = {}
    for number in range(16, 64):
        d = image[number * CD_SECTOR:(number + 1) * CD_SECTOR]
        if d[1:6] != b'CD001' or d[0] == 255:
            break
        if d[0] == 1 or (d[0] == 2 and d[88:91] in JOLIET_ESCAPES):
            encoding = 'ascii' if d[0] == 1 else 'utf-16-be'
            trees[d[0]] = (d[40:72].decode(encoding).rstrip(' '),
                           read_cd_folder(image, d[156:190], encoding))
    return trees


def read_cd_folder(image, record, encoding):
    extent, size = struct.unpack_from('<I4xI', record, 2)
    folder = image[extent * CD_SECTOR:extent * CD_SECTOR + size]
    files = {}
    at = 0
    while at < len(folder):
        length = folder[at]
        if length == 0:  # records do not cross a sector: the rest of this one is empty
            at = (at // CD_SECTOR + 1) * CD_SECTOR
            continue
        name = folder[at + 33:at + 33 + folder[at + 32]]
        if name not in (b'\0', b'\1'):
            start, count = struct.unpack_from('<I4xI', folder, at + 2)
            files[name.decode(encoding)] = image[start * CD_SECTOR:start * CD_SECTOR + count]
        at += length
    return files


def without_version(files):
    return {name.split(';')[0]: data for name, data in files.items()}


def dist(cwd, args, umask):
    done = subprocess.run(['bash', str(DIST_SH)] + args, cwd=cwd, capture_output=True, text=True,
                          preexec_fn=lambda: os.umask(umask))
    assert done.returncode == 0, 'dist.sh %s failed:\n%s%s' % (args, done.stdout, done.stderr)


@pytest.fixture(scope='module')
def release(tmp_path_factory):
    """The program, its version, the release files' common name and the two runs' folders."""
    exe = str(build.path('win32_exe'))
    missing = [tool for tool in ('mformat', 'mcopy', 'mdir', 'xorriso', 'zip', 'sha256sum')
               if shutil.which(tool) is None]
    if missing:
        raise Unavailable('%s missing (tools/setup.sh installs them)' % ', '.join(missing))
    work = tmp_path_factory.mktemp('dist')
    runs = [str(work / 'run1'), str(work / 'run2')]
    dist(build.ROOT, [runs[0], exe], umask=0o022)
    # Past the FAT's two-second clock, from elsewhere, with relative paths: none of it may show
    # in the files.
    time.sleep(2.5)
    dist(work, ['run2', os.path.relpath(exe, work)], umask=0o077)
    product = pe.read(exe).VS_FIXEDFILEINFO[0].ProductVersionMS
    version = '%d.%d' % (product >> 16, product & 0xFFFF)
    return {'exe': Path(exe).read_bytes(),
            'qvdump': Path(exe).with_name('qvdump.exe').read_bytes(), 'version': version,
            'name': 'qorvalin-' + version, 'runs': runs}


def path(release, suffix):
    return os.path.join(release['runs'][0], release['name'] + suffix)


def test_two_runs_write_the_same_files_and_sums(release):
    images = [release['name'] + suffix for suffix in ('.img', '.iso', '.zip')]
    expected = sorted(images + ['SHA256SUMS'])
    contents = []
    for run in release['runs']:
        assert sorted(os.listdir(run)) == expected
        contents.append({name: Path(run, name).read_bytes() for name in expected})
        checked = subprocess.run(['sha256sum', '--strict', '-c', 'SHA256SUMS'], cwd=run,
                                 capture_output=True, text=True)
        assert checked.returncode == 0, checked.stdout + checked.stderr
        assert sorted(line.split(':')[0] for line in checked.stdout.splitlines()) == images
    assert [name for name in expected if contents[0][name] != contents[1][name]] == []


def test_every_image_holds_the_program_and_readme(release):
    floppy, _ = read_floppy(path(release, '.img'))
    cd = read_cd(path(release, '.iso'))
    archive = read_zip(path(release, '.zip'))
    readme = archive.get('README.TXT', b'')
    readers = {
        'zip': archive,
        'floppy': floppy,
        'CD, ISO 9660': without_version(cd.get(1, ('', {}))[1]),
        'CD, Joliet': without_version(cd.get(2, ('', {}))[1]),
    }
    for label, files in readers.items():
        assert sorted(files) == CONTENTS, label
        assert files['QORVALIN.EXE'] == release['exe'], label + ': not the built program'
        assert files['QVDUMP.EXE'] == release['qvdump'], label + ': not the built recorder'
        assert files['README.TXT'] == readme, label + ': another README.TXT'

    text = readme.decode('ascii')
    lines = text.split('\r\n')
    assert lines[-1] == '', 'the last line has no CR LF'
    assert [line for line in lines if '\r' in line or '\n' in line] == [], \
        'a line ends in a lone CR or LF'
    assert 'Version ' + release['version'] in lines
    assert [line for line in lines if len(line) > 79 or '@' in line] == []
    for start in ('A:\\QORVALIN.EXE', 'D:\\QORVALIN.EXE', 'A:\\QVDUMP.EXE', 'D:\\QVDUMP.EXE'):
        assert start in text


def test_volumes(release):
    _, floppy = read_floppy(path(release, '.img'))
    assert (floppy['size'], floppy['sector'], floppy['sectors'], floppy['media'],
            floppy['signature'], floppy['type']) == \
        (FLOPPY_SIZE, 512, 2880, 0xF0, 0x29, b'FAT12   ')
    cd = read_cd(path(release, '.iso'))
    assert sorted(cd) == [1, 2], 'the CD needs a primary and a Joliet descriptor'
    assert (floppy['boot label'], floppy['root labels'], cd[1][0], cd[2][0]) == \
        (b'QORVALIN   ', [b'QORVALIN   '], 'QORVALIN', 'QORVALIN')
    assert [name for name in cd[1][1] if not LEVEL1_NAME.match(name)] == []
