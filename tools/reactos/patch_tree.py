#!/usr/bin/env python3
"""tools/reactos/patch_tree.py SRC: readies a scratch copy of a ReactOS tree for a live CD built
with Debian's MinGW-w64 (GCC 12, binutils 2.40) that boots straight to the desktop and starts
the test driver at logon. Never run it on the user's own tree: it edits files in place."""
import pathlib
import re
import shutil
import sys

src = pathlib.Path(sys.argv[1])


def edit(path, old, new, count=1):
    """Replaces an anchor that must be there exactly `count` times, so that a tree which has
    moved on fails loudly here instead of building something else."""
    file = src / path
    text = file.read_bytes().decode("utf-8", "surrogateescape")
    if "\r\n" in text:
        old, new = old.replace("\n", "\r\n"), new.replace("\n", "\r\n")
    found = text.count(old)
    if found != count:
        sys.exit(f"patch_tree.py: {path}: expected {count} of {old!r}, found {found}")
    file.write_bytes(text.replace(old, new).encode("utf-8", "surrogateescape"))


# GCC 12 warns at sites older compilers did not, and a debug build makes every warning an
# error; a -Wno-error given earlier on the command line cannot undo it.
edit("sdk/cmake/gcc.cmake", "    add_compile_options(-Werror)\n", "")

# binutils 2.40's ld crashes on an import library that is a thin archive around dlltool's
# archive; rewrite each one as an ordinary archive once it is made.
shutil.copy(pathlib.Path(__file__).with_name("flatten_archive.sh"), src / "sdk/cmake")
for lib in ("${_libname}", "${_libname}_delayed"):
    edit("sdk/cmake/gcc.cmake",
         f'    set_target_properties({lib}\n        PROPERTIES\n        LINKER_LANGUAGE "C"\n        PREFIX "")\n',
         f'    set_target_properties({lib}\n        PROPERTIES\n        LINKER_LANGUAGE "C"\n        PREFIX "")\n'
         f'    add_custom_command(TARGET {lib} POST_BUILD\n'
         f'        COMMAND sh ${{REACTOS_SOURCE_DIR}}/sdk/cmake/flatten_archive.sh ${{CMAKE_AR}} $<TARGET_FILE:{lib}>)\n')

edit("sdk/lib/crt/oldnames.cmake",
     '    set_target_properties(oldnames PROPERTIES LINKER_LANGUAGE "C")\n'
     'else()\n',
     '    set_target_properties(oldnames PROPERTIES LINKER_LANGUAGE "C")\n'
     '    add_custom_command(TARGET oldnames POST_BUILD\n'
     '        COMMAND sh ${REACTOS_SOURCE_DIR}/sdk/cmake/flatten_archive.sh ${CMAKE_AR} $<TARGET_FILE:oldnames>)\n'
     'else()\n')

# Debian's MinGW-w64 GCC keeps the unwinder in libgcc_eh.a, which the C++ modules need; it
# goes before the C runtime, whose memset it uses.
edit("sdk/cmake/gcc.cmake",
     "target_link_libraries(libsupc++ INTERFACE libgcc stdc++compat)\n",
     "execute_process(COMMAND ${GXX_EXECUTABLE} -print-file-name=libgcc_eh.a\n"
     "    OUTPUT_VARIABLE LIBGCC_EH_LOCATION OUTPUT_STRIP_TRAILING_WHITESPACE)\n"
     "target_link_libraries(libsupc++ INTERFACE ${LIBGCC_EH_LOCATION} libgcc stdc++compat)\n")

# Left off the CD: modules this toolchain cannot build (ucrtbase hits an internal compiler
# error, the rest want msvcrt's rand_s through Debian's libstdc++), and modules the live CD's
# default boot entry never loads, which would only double the build's time.
skipped = ("ucrtbase telnet shellbtrfs drwtsn32 ntkrnlmp d3dcompiler_43 glu32 ntvdm command "
           "ext2fs btrfs udfs nfsd nfs41_np nfs41_driver")
edit("sdk/cmake/CMakeMacros.cmake",
     '    cmake_parse_arguments(_CD "NO_CAB;NOT_IN_HYBRIDCD" "DESTINATION;NAME_ON_CD;TARGET" "FILE;FOR" ${ARGN})\n',
     '    cmake_parse_arguments(_CD "NO_CAB;NOT_IN_HYBRIDCD" "DESTINATION;NAME_ON_CD;TARGET" "FILE;FOR" ${ARGN})\n'
     f'    set(_skipped {skipped})\n'
     '    if(_CD_TARGET IN_LIST _skipped OR _CD_TARGET MATCHES "^hal.+$|^d3dx9_[0-9]+$")\n'
     '        return()\n'
     '    endif()\n')

# The sound resampler's largest table is missing from trees that leave out files of 4 MiB or
# more; a copy of the middle-quality table under the missing name stands in for it.
coeffs = src / "sdk/lib/3rdparty/libsamplerate"
if not (coeffs / "high_qual_coeffs.h").exists():
    mid = (coeffs / "mid_qual_coeffs.h").read_text()
    (coeffs / "high_qual_coeffs.h").write_text(re.sub("mid_qual", "high_qual", mid))

# Straight to the desktop, and the test driver started at logon from the CD's extras folder.
edit("boot/bootdata/livecd/unattend.inf", "UnattendSetupEnabled = no\n", "UnattendSetupEnabled = yes\n")
edit("boot/bootdata/livecd.inf", "[AddReg]\n",
     '[AddReg]\nHKLM,"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run","QvDrive",'
     '0x00020000,"%SystemDrive%\\extras\\qvdrive.exe"\n')
