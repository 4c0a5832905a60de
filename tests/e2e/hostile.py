#!/usr/bin/env python3
"""hostile.py KIND SFX: replaces the archive of a self-extractor made by mksfx
with members written by hand, as other archivers (or an attacker) write them.
KIND paths: parent steps, a directory field without its closing 0xFF, a directory entry
without a separator, a symbolic link entry, device names and a control byte. KIND
drive: the same and, last, a member that names a drive."""
import struct
import sys


def crc16(data, crc=0):
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def member(name, data=b'', method=b'0', directory=b''):
    """A level-2 member: header CRC first, then name and directory."""
    ext = struct.pack('<HB', 3 + len(name), 1) + name
    if directory:
        ext += struct.pack('<HB', 3 + len(directory), 2) + directory
    h = bytearray(b'\0\0-lh' + method + b'-' + struct.pack('<III', len(data), len(data), 1000000000) +
                  bytes([0x20, 2]) + struct.pack('<H', crc16(data)) + b'W' +
                  struct.pack('<HBH', 5, 0, 0) + ext + b'\0\0')
    struct.pack_into('<H', h, 0, len(h))
    struct.pack_into('<H', h, 27, crc16(h))
    return bytes(h) + data


KINDS = {
    'paths': [
        member(b'../escape1.txt', b'1'), member(b'a/../../escape2.txt', b'2'), member(b'..\\escape4.txt', b'4'),
        member(b'escape5.txt', b'5', directory=b'..\xff..\xff'), member(b'../dir/', method=b'd'),
        member(b'hello.txt', b'amiga', directory=b'subdir\xffsubdir2'), member(b'plaindir', method=b'd'),
        member(b'link|../../target', method=b'd'), member(b'after.txt', b'after'),
        *[member(name, b'dev-' + data) for name, data in [
            (b'nul.txt', b'nul'), (b'aux.h', b'aux'), (b'LPT1.log', b'lpt1'), (b'con/x.txt', b'con'),
            (b'com1', b'com1'), (b'ctl\x01name.txt', b'ctl')]],
    ],
}
KINDS['drive'] = KINDS['paths'] + [member(b'C:\\rooted.txt', b'r')]

kind, path = sys.argv[1], sys.argv[2]
data = bytearray(open(path, 'rb').read())
offset = int.from_bytes(data[512:516], 'little')
open(path, 'wb').write(bytes(data[:offset]) + b''.join(KINDS[kind]) + b'\0\0')
