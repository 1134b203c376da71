#!/usr/bin/env python3
"""printer_sim.py DIR: a two-way label printer on a loopback TCP port, for the
tests (socket://127.0.0.1:PORT). It writes its port to DIR/port and reads its
connections command by command, as the printer does: each status query
(ESC ! ?) is answered with the byte DIR/status holds ("none": it stays
silent) and counted in DIR/queries; maintenance commands (SOUND, ...DETECT)
go to DIR/commands, everything else (label sequences, BITMAP payloads
whole) to DIR/labels. Like the printer, it reads one stream whatever the
connection: a payload cut by a closed connection goes on in the next. Each
BITMAP it reads as a command has its offset in DIR/labels noted in
DIR/bitmaps; while DIR/stall exists it reads nothing."""
import os
import re
import socketserver
import sys
import threading

QUERY = b"\x1b!?"
COMMANDS = (b"SOUND", b"GAPDETECT", b"BLINEDETECT", b"AUTODETECT")
BITMAP = re.compile(rb"BITMAP -?\d+,-?\d+,(\d+),(\d+),\d+,")
folder = sys.argv[1]
lock = threading.RLock()
queries = 0
stream = {"data": b"", "payload": 0}


def keep(name, data):
    with lock, open(os.path.join(folder, name), "ab") as out:
        out.write(data)


def size_of(name):
    path = os.path.join(folder, name)
    return os.path.getsize(path) if os.path.exists(path) else 0


class Printer(socketserver.BaseRequestHandler):
    def answer(self):
        global queries
        status = open(os.path.join(folder, "status")).read().strip()
        if status != "none":
            self.request.sendall(bytes([int(status, 0)]))
        with lock:
            queries += 1
            open(os.path.join(folder, "queries"), "w").write(str(queries))

    def handle(self):
        while True:
            while os.path.exists(os.path.join(folder, "stall")):
                threading.Event().wait(0.05)
            if not (chunk := self.request.recv(65536)):
                break
            with lock:
                stream["data"] += chunk
                self.parse()

    def parse(self):
        data, payload = stream["data"], stream["payload"]
        while data:
            if payload:  # BITMAP bytes are data, whatever they hold
                keep("labels", data[:payload])
                payload, data = max(payload - len(data), 0), data[payload:]
            elif data.startswith(QUERY):
                self.answer()
                data = data[len(QUERY):]
            elif bitmap := BITMAP.match(data):
                keep("bitmaps", b"%d\n" % size_of("labels"))
                keep("labels", bitmap.group(0))
                payload, data = int(bitmap[1]) * int(bitmap[2]), data[bitmap.end():]
            elif (end := data.find(b"\r\n")) >= 0:
                keep("commands" if data.startswith(COMMANDS) else "labels", data[:end + 2])
                data = data[end + 2:]
            else:
                break  # the rest of a command is still on its way
        stream["data"], stream["payload"] = data, payload


server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Printer)
with open(os.path.join(folder, "port.new"), "w") as out:
    out.write(str(server.server_address[1]))
os.rename(os.path.join(folder, "port.new"), os.path.join(folder, "port"))
server.serve_forever()
