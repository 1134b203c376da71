#!/usr/bin/env python3
"""feed_then_fail.py FILE CUT COMMAND...: runs COMMAND with standard input that
delivers FILE without its last CUT bytes, then fails with EIO, as a failing
disk would. The bytes lie at the end of a mapping of this process's memory,
read through /proc/self/mem: past them is an unmapped page (needs root)."""
import ctypes
import mmap
import os
import subprocess
import sys

data = open(sys.argv[1], "rb").read()[: -int(sys.argv[2]) or None]
libc = ctypes.CDLL(None, use_errno=True)
libc.mmap.restype = ctypes.c_void_p
libc.mmap.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                      ctypes.c_long]
page = mmap.PAGESIZE
mapped = (len(data) // page + 1) * page
region = libc.mmap(None, mapped + page, mmap.PROT_READ | mmap.PROT_WRITE,
                   mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS, -1, 0)
libc.munmap(ctypes.c_void_p(region + mapped), ctypes.c_size_t(page))
start = region + mapped - len(data)
ctypes.memmove(start, data, len(data))
memory = os.open("/proc/self/mem", os.O_RDONLY)
os.lseek(memory, start, os.SEEK_SET)
sys.exit(subprocess.run(sys.argv[3:], stdin=memory).returncode)
