#!/usr/bin/env python3
"""Writes the refresh fuzzer's seed inputs into corpus/ beside this script.

The layout of an input is described at the top of refresh_fuzzer.cpp. The
seeds are kept in the repository; run this again only to change them. The
other files in corpus/ are inputs that a long fuzzing run found, merged in
with -merge=1 (see the README).
"""
import pathlib
import struct

TERMINATED, FILL, NOTHING = 0, 1, 2


def sensor(name, readings=(), form=TERMINATED):
    return (bytes([form]) + struct.pack('<H', len(name)) + name +
            bytes([len(readings)]) + b''.join(readings))


def run_code(run):
    """One slot, or a power of two from 2 to 256."""
    if run == 1:
        return 0
    assert run >= 2 and run & (run - 1) == 0 and run <= 256
    return 0xf8 + run.bit_length() - 2


def reading(type_code, index, label, value=1.0, valid=1, run=1, fill=False, bits=None):
    value_bytes = struct.pack('<Q', bits) if bits is not None else struct.pack('<d', value)
    label_byte = (0x80 + len(label)) if fill else len(label)
    return (bytes([type_code - 1]) + struct.pack('<H', index) + bytes([run_code(run)]) +
            struct.pack('<i', valid) + value_bytes + bytes([label_byte]) + label)


def seed(count, *sensors):
    return struct.pack('<i', count) + b''.join(sensors)


SEEDS = {
    'no-sensors': seed(0),
    'negative-count': seed(-1, sensor(b'CPU', [reading(1, 0, b'Core 0', 41.5)])),
    'most-negative-count': seed(-2**31, sensor(b'CPU')),
    'largest-count': seed(2**31 - 1, sensor(b'Board', [reading(3, 0, b'Fan 1', 1180)]),
                          sensor(b'Drive', [reading(1, 1023, b'Last', 35, run=8)])),
    'case-duplicates': seed(
        2,
        sensor(b'GPU', [reading(1, 0, b'Hot Spot', 70)]),
        sensor(b'gpu', [reading(1, 0, b'Edge', 60), reading(1, 0, b'Edge again', 61),
                        reading(6, 1, b'Core 0', 3600), reading(6, 2, b'Core 0', 3700),
                        reading(1, 3, b'Hidden', 1, valid=0)])),
    'empty-names-and-labels': seed(
        2,
        sensor(b'', [reading(8, 0, b'', 1), reading(8, 1, b'Same', 2, valid=-7),
                     reading(8, 2, b'Same', 3, valid=0x40000000)]),
        sensor(b'', [reading(8, 0, b'', 4, fill=True)])),
    'raw-bytes': seed(
        2,
        sensor(b'Temp \xb0C\0Hidden tail', [reading(1, 0, b'\xb0C', 1), reading(2, 3, b'\xff\xfe', 2),
                                           reading(7, 9, b'x', 7)]),
        sensor(b'Caf\xc3\xa9 \xf0\x9f\x98\x80 \xed\xa0\x80 \xf4\x90\x80\x80',
               [reading(1, 0, b'ctl\x01\x1f\t\n"\\/\x7f', 4), reading(1, 1, b'end \xe2\x82', 3),
                reading(4, 2, b'before\0after', 5), reading(5, 3, b'L', 6, fill=True)])),
    'special-values': seed(
        1,
        sensor(b'Values', [reading(8, i, b'v%d' % i, bits=b) for i, b in enumerate([
            0x0000000000000000, 0x8000000000000000, 0x7ff0000000000000, 0xfff0000000000000,
            0x7ff8000000000000, 0xfff8000000000000, 0xfff8000000000001, 0x7ff0000000000001,
            0xfff4000000000000, 0x7fefffffffffffff, 0xffefffffffffffff, 0x0000000000000001,
            0xbe112e0be826d695, 0x3eb0c6f7a0b5ed8d])])),
    'past-one-mebibyte': seed(
        2, *[sensor(b'Big %d' % n, [reading(1, 8 * k, b'\x01', 1000 + k, run=64, fill=True)
                                    for k in range(12)]) for n in range(2)]),
    'names-not-written': seed(
        2,
        sensor(b'Board', [reading(1, 0, b'T', 30)]),
        sensor(b'ignored', [reading(1, 0, b'U', 31)], form=NOTHING)),
    'name-fills-buffer': seed(
        2,
        sensor(b'Fill', [reading(2, 5, b'V', 1.1)], form=FILL),
        sensor(b'ignored', [reading(2, 6, b'W', 2.2)], form=NOTHING)),
}

corpus = pathlib.Path(__file__).resolve().parent / 'corpus'
corpus.mkdir(exist_ok=True)
for name, data in SEEDS.items():
    (corpus / name).write_bytes(data)
