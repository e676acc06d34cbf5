#!/usr/bin/env python3
# A TCP proxy on 127.0.0.1 between an MQTT client and a broker, for the tests.
# It can close the first connections at once (as a restarting broker or a TLS
# proxy does) and swallow the n-th PUBREL a client sends, cutting the line
# there. Prints one line per thing it did.
import argparse
import socket
import threading


def log(*words):
    print(*words, flush=True)


# One direction. Its end is passed on as the end of what the other side
# reads, after everything before it (a DISCONNECT reaches the broker even
# when the broker's answer to what came before finds the client gone).
def forward(src, dst):
    try:
        while data := src.recv(65536):
            dst.sendall(data)
    except OSError:
        pass
    try:
        dst.shutdown(socket.SHUT_WR)
    except OSError:
        pass


# Where the packet at the start of `buffer` ends (its fixed header's remaining
# length says so), or None while it is incomplete.
def packet_end(buffer):
    length, factor, i = 0, 1, 1
    while True:
        if i >= len(buffer):
            return None
        length += (buffer[i] & 0x7F) * factor
        factor *= 128
        i += 1
        if not buffer[i - 1] & 0x80:
            break
    return i + length if len(buffer) >= i + length else None


# Client to broker, packet by packet.
def forward_packets(src, dst, state, drop):
    buffer = b""
    try:
        while data := src.recv(65536):
            buffer += data
            out = b""
            while (end := packet_end(buffer)) is not None:
                packet, buffer = buffer[:end], buffer[end:]
                if packet[0] >> 4 == 6:
                    state["pubrels"] += 1
                    if state["pubrels"] == drop:
                        dst.sendall(out)
                        log("dropped PUBREL", drop)
                        raise OSError
                out += packet
            dst.sendall(out)
        dst.shutdown(socket.SHUT_WR)
    except OSError:  # the line cut after a dropped PUBREL
        for s in (src, dst):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--listen", type=int, required=True)
    p.add_argument("--broker", type=int, required=True)
    p.add_argument("--close-first", type=int, default=0, help="close the first N connections at once")
    p.add_argument("--drop-pubrel", type=int, default=0, help="swallow the N-th PUBREL and cut the line")
    a = p.parse_args()
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", a.listen))
    server.listen(16)
    log("listening")
    state = {"pubrels": 0}
    connections = 0
    while True:
        client, _ = server.accept()
        connections += 1
        if connections <= a.close_first:
            client.close()
            log("closed connection", connections)
            continue
        try:
            broker = socket.create_connection(("127.0.0.1", a.broker))
        except OSError:  # the broker is down: so is the line
            client.close()
            continue
        threading.Thread(target=forward, args=(broker, client), daemon=True).start()
        if a.drop_pubrel:
            threading.Thread(target=forward_packets, args=(client, broker, state, a.drop_pubrel),
                             daemon=True).start()
        else:
            threading.Thread(target=forward, args=(client, broker), daemon=True).start()


if __name__ == "__main__":
    main()
