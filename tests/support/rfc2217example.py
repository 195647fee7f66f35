#!/usr/bin/python3
"""python3-serial's RFC 2217 server example in front of a terminal, on
loopback, for the network port tests.

Usage: rfc2217example.py TERMINAL

Loads the example as Debian installs it and serves TERMINAL on a free
loopback port with the example's own Redirector, as its main program does
(one session at a time; the line is set back between sessions), but bound
to 127.0.0.1 instead of every address. Prints the port as the first line,
then "session" for each session it accepts.

A pseudo-terminal has no modem lines: pyserial's calls that set or read
them fail there (ENOTTY) and would end the example at its first session.
Here setting DTR or RTS does nothing, and the lines it reads (CTS, DSR,
RI, CD) read as off.
"""
import gzip
import logging
import os
import socket
import sys
import types

import serial

EXAMPLE = "/usr/share/doc/python3-serial/examples/rfc2217_server.py"


def load_example():
    if os.path.exists(EXAMPLE):
        with open(EXAMPLE, "rb") as f:
            source = f.read()
    else:
        with gzip.open(EXAMPLE + ".gz", "rb") as f:
            source = f.read()
    module = types.ModuleType("rfc2217_server")
    exec(compile(source, EXAMPLE, "exec"), module.__dict__)
    return module


def without_modem_lines(cls):
    cls._update_dtr_state = lambda self: None
    cls._update_rts_state = lambda self: None
    for line in ("cts", "dsr", "ri", "cd"):
        setattr(cls, line, property(lambda self: False))


def main():
    example = load_example()
    without_modem_lines(serial.Serial)
    logging.basicConfig(level=logging.WARNING)
    ser = serial.serial_for_url(sys.argv[1], do_not_open=True)
    ser.timeout = 3  # as the example: the reader thread ends within this
    ser.dtr = False
    ser.rts = False
    ser.open()
    settings = ser.get_settings()
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    print(server.getsockname()[1], flush=True)
    while True:
        client, _ = server.accept()
        print("session", flush=True)
        client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        ser.rts = True
        ser.dtr = True
        redirector = example.Redirector(ser, client)
        try:
            redirector.shortcircuit()
        except socket.error:
            pass
        finally:
            redirector.stop()
            client.close()
            ser.dtr = False
            ser.rts = False
            ser.apply_settings(settings)


if __name__ == "__main__":
    main()
