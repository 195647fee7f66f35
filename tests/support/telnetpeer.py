#!/usr/bin/python3
"""A Telnet peer on loopback for the network port tests.

Prints its port as the first line, then serves connections one after the
other in the mode named by the only argument:
  echo     a quirky but sound RFC 2217 server: sends its own requests
           first, answers ours, confirms every line setting, notifies a
           modem state, and echoes line data back (255 doubled both ways);
           the line "CONTROL?" is answered with the SET-CONTROL values
           received so far, as "CONTROL 1 8 12" and LF
  refuse   refuses the COM-PORT-OPTION
  flood    sends option requests without end
  garbage  opens a subnegotiation that never ends
  noise    sends line data without end and negotiates nothing
  silent   accepts and never sends a byte
"""
import socket
import sys

IAC, DONT, DO, WONT, WILL, SB, SE, NOP = 255, 254, 253, 252, 251, 250, 240, 241
COM_PORT = 44


def serve(connection, mode):
    send = connection.sendall
    if mode == "silent":
        while connection.recv(4096):
            pass
        return
    if mode == "flood":
        option = 0
        while True:
            send(bytes([IAC, WILL, option, IAC, DO, option]))
            option = (option + 1) % 40
    if mode == "noise":
        while True:
            send(b"noise " * 1000)
    if mode == "garbage":
        send(bytes([IAC, SB, COM_PORT, 101]))
        while True:
            send(bytes(range(0, 255)) * 16)
    # echo and refuse: our requests first, then answer the client's.
    send(bytes([IAC, NOP, IAC, WILL, 3, IAC, WILL, 0, IAC, DO, 0]))
    if mode == "echo":
        # It offers the option on its side too, and ends a session that
        # turns that down.
        send(bytes([IAC, DO, COM_PORT, IAC, WILL, COM_PORT]))
    state, verb, sub, data = "data", 0, bytearray(), bytearray()
    controls = []
    while True:
        chunk = connection.recv(4096)
        if not chunk:
            return
        out = bytearray()
        for byte in chunk:
            if state == "data":
                if byte == IAC:
                    state = "iac"
                else:
                    data.append(byte)
            elif state == "iac":
                state = "data"
                if byte == IAC:
                    data.append(IAC)
                elif byte in (WILL, WONT, DO, DONT):
                    verb, state = byte, "option"
                elif byte == SB:
                    sub, state = bytearray(), "sub"
            elif state == "option":
                state = "data"
                if verb == DONT and byte == COM_PORT:
                    return
                if verb == WILL and byte == COM_PORT:
                    if mode == "refuse":
                        out += bytes([IAC, DONT, COM_PORT])
                    # the echo server asked first: the WILL is the answer
            elif state == "sub":
                if byte == IAC:
                    state = "subiac"
                else:
                    sub.append(byte)
            elif state == "subiac":
                if byte == SE:
                    state = "data"
                    if len(sub) >= 3 and sub[0] == COM_PORT and sub[1] == 5:
                        controls.append(str(sub[2]))
                    if len(sub) >= 2 and sub[0] == COM_PORT:
                        value = bytes(sub[2:]).replace(b"\xff", b"\xff\xff")
                        out += bytes([IAC, SB, COM_PORT, sub[1] + 100]) + value + bytes([IAC, SE])
                        out += bytes([IAC, SB, COM_PORT, 107, 0x30, IAC, SE])
                else:
                    sub.append(byte)
                    state = "sub"
        if data == b"CONTROL?\n":
            out += ("CONTROL " + " ".join(controls) + "\n").encode()
        elif data:
            out += bytes(data).replace(b"\xff", b"\xff\xff")
            data = bytearray()
        if out:
            send(bytes(out))


def main():
    mode = sys.argv[1]
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(4)
    print(server.getsockname()[1], flush=True)
    while True:
        connection, _ = server.accept()
        try:
            serve(connection, mode)
        except OSError:
            pass
        connection.close()


if __name__ == "__main__":
    main()
