#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/).

The seeds are committed; rerun this only to change them. Input formats are
described at the top of fuzz_settings.cpp and fuzz_sequence.cpp.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

SETTINGS = {
    "typical": "SSPIPORT=1\nSSPICLOCK=100\nGSPICLOCK\nGSPISHIFTPERIOD\n",
    "all_reads": "GSPIPORT\nGSPIMUL\nGSPISHIFTPERIOD\nGSPICLOCK\nGSPIMAXCLOCK\nGSPICMDBITS\nGnothing\ng\n",
    "integers": "SSPIMUL=0x10\nGSPIMUL\nSSPIMUL=-1\nSspimul=010\nGspimul\nSSPICMDBITS=12abc\nSSPIMUL=abc\n",
    "clock_edges": "SSPICLOCK=0\nSSPICLOCK=-0\nSSPICLOCK=abc\nSSPICLOCK=1e-300\nSSPICLOCK=0.00001\n"
                   "GSPICLOCK\nSSPICLOCK=-5\nSSPICLOCK=1000\nGSPISHIFTPERIOD\n",
    "period_edges": "SSPISHIFTPERIOD=0\nSSPISHIFTPERIOD=-1\nSSPISHIFTPERIOD=61356675\nGSPICLOCK\n"
                    "SSPISHIFTPERIOD=61356676\nSSPISHIFTPERIOD=0xFFFFFFFF\nGSPISHIFTPERIOD\n",
    "max_clock": "SSPIMAXCLOCK=1000\nGSPIMAXCLOCK\nSSPIMAXCLOCK=99.99\nSSPIMAXCLOCK=1e39\nGSPIMAXCLOCK\n"
                 "SSPIMAXCLOCK=3.4e38\nGSPIMAXCLOCK\nSSPIMAXCLOCK=-3\nSSPIMAXCLOCK=123456789012345\nGSPIMAXCLOCK\n",
    "slower": "CSPISLOWER\n" * 14 + "Cspislower\nCother\nGSPISHIFTPERIOD\n",
    "ports": "SSPIPORT=2\nSSPIPORT=3\nSSPIPORT=1\nSSPIMUL=3\nSSPIPORT=99\nSSPIPORT=-1\nGSPIPORT\n",
    "nulls": "SSPIPORT\nNSPIPORT=1\nS=1\nGSPIPORT\n",
    "mux_period": "SSPIPORT=1\nSSPISHIFTPERIOD=4000\nSSPIMUL=-1\nSSPIMUL=16\nSSPIMUL=16\nGSPIMUL\n",
}

NAMES = ["SPIPORT", "SPIMUL", "SPISHIFTPERIOD", "SPICLOCK", "SPICMDBITS", "SPICMDREADBITS",
         "SPICMDWRITEBITS", "SPIMAXCLOCK"]


def header(flags=0, alloc_fail=0xFF, control_fail=0xFF, port_faults=0, chip0=0, chip1=0):
    return bytes([flags, alloc_fail, control_fail, port_faults, chip0, chip1])


def transfer(command, address, count, null_buffer=False):
    return bytes([command]) + struct.pack("<H", address) + bytes([(count & 0x3F) | (0x40 if null_buffer else 0)])


def setvar(name, value):
    if name is None:
        out = bytes([0xFE])
    elif name in NAMES:
        out = bytes([NAMES.index(name)])
    else:
        raw = name.encode()
        out = bytes([0xFF, len(raw)]) + raw
    if value is None:
        return bytes([2]) + out + bytes([0xFF])
    raw = value.encode()
    return bytes([2]) + out + bytes([len(raw)]) + raw


def other(command):
    return bytes([3]) + struct.pack("<i", command)


SEQUENCE = {
    "read_write": header(flags=1 | 2) + transfer(1, 0x1000, 4) + transfer(0, 0x1000, 4),
    "typical": header(flags=2) + setvar("SPIPORT", "1") + setvar("SPICLOCK", "100") + transfer(0, 0x1000, 2),
    "no_port": header(flags=2) + transfer(0, 0x10, 1) + transfer(1, 0x10, 1) + setvar("SPIMUL", "3"),
    "alloc_fault": header(flags=1, alloc_fail=5) + transfer(0, 0x2000, 3) + transfer(1, 0x2000, 3),
    "control_fault": header(flags=1 | 2, control_fail=4) + transfer(1, 0xFFFF, 9) + transfer(0, 0xFFFF, 9),
    "bad_echo": header(flags=1 | 2, chip0=2) + transfer(0, 0x1234, 2) + transfer(1, 0x1234, 2),
    "mux": header(flags=1 | 4 | 2) + setvar("SPIMUL", "5") + transfer(1, 0x40, 2) + transfer(0, 0x40, 2)
           + setvar("SPIMUL", "-1"),
    "chip1": header(flags=1 | 0x20) + transfer(1, 0x300, 1) + transfer(0, 0x300, 1),
    "odd_records": header(flags=1) + other(3) + other(-1) + transfer(0, 0, 5, null_buffer=True)
                   + setvar(None, "1") + setvar("SPIPORT", None) + transfer(0, 0x10, 0) + transfer(1, 0x10, 0),
    "settings": header(flags=1 | 2) + setvar("SPICMDBITS", "0x80") + setvar("SPICMDREADBITS", "0x40")
                + setvar("SPISHIFTPERIOD", "7") + transfer(1, 0x500, 3) + transfer(0, 0x500, 3)
                + setvar("unknown", "x") + setvar("SPIPORT", "4") + transfer(0, 0x500, 1),
    "stopped_idle": header(flags=1 | 8 | 0x10, chip0=8) + transfer(0, 0xFF9A, 1) + setvar("SPIPORT", "2")
                    + transfer(0, 0x1, 1),
    "port_faults": header(flags=1, port_faults=4) + transfer(1, 0x1, 1) + setvar("SPIPORT", "1")
                   + transfer(0, 0x1, 1),
}


def main():
    for target, seeds in (("settings", SETTINGS), ("sequence", SEQUENCE)):
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, content in seeds.items():
            data = content.encode() if isinstance(content, str) else content
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
