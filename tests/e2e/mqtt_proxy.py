#!/usr/bin/env python3
# A TCP proxy on 127.0.0.1 between an MQTT client and a broker, for the tests.
# It can close the first connections at once (as a restarting broker or a TLS
# proxy does), swallow the n-th PUBREL a client sends, cutting the line there,
# play a broker of MQTT 3.1.1 only that closes the connection at a refused
# topic, and hold back the broker's answers (a slow broker). Prints one line
# per thing it did, with the time in seconds.
import argparse
import socket
import threading
import time


def log(*words):
    print(f"{time.monotonic():.3f}", *words, flush=True)


def shut(*sockets):
    for s in sockets:
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


# Broker to client, each piece held back `delay` seconds. Its end is passed
# on as the end of what the other side reads, after everything before it (a
# DISCONNECT reaches the broker even when the broker's answer to what came
# before finds the client gone).
def forward(src, dst, delay=0.0):
    try:
        while data := src.recv(65536):
            if delay:
                time.sleep(delay)
            dst.sendall(data)
    except OSError:
        pass
    try:
        dst.shutdown(socket.SHUT_WR)
    except OSError:
        pass


# Where the packet at the start of `buffer` ends and its variable header
# starts (its fixed header's remaining length says so), or None while it is
# incomplete.
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
    return (i + length, i) if len(buffer) >= i + length else None


# Client to broker, packet by packet.
def forward_packets(src, dst, state, a):
    buffer = b""
    try:
        while data := src.recv(65536):
            buffer += data
            out = b""
            while (ends := packet_end(buffer)) is not None:
                packet, buffer = buffer[: ends[0]], buffer[ends[0] :]
                kind, start = packet[0] >> 4, ends[1]
                if kind == 1 and a.mqtt311 and packet[start + 6] == 5:
                    src.sendall(b"\x20\x02\x00\x01")  # unacceptable protocol version
                    log("refused MQTT 5")
                    raise OSError
                if kind == 3 and a.cut_at:
                    size = int.from_bytes(packet[start : start + 2], "big")
                    topic = packet[start + 2 : start + 2 + size].decode()
                    if topic.endswith(a.cut_at):  # after the answers to what came before
                        dst.sendall(out)
                        time.sleep(0.3)
                        log("cut at", topic)
                        raise OSError
                if kind == 6:
                    state["pubrels"] += 1
                    if state["pubrels"] == a.drop_pubrel:
                        dst.sendall(out)
                        log("dropped PUBREL", a.drop_pubrel)
                        raise OSError
                out += packet
            dst.sendall(out)
        dst.shutdown(socket.SHUT_WR)
    except OSError:  # the line cut
        shut(src, dst)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--listen", type=int, required=True)
    p.add_argument("--broker", type=int, required=True)
    p.add_argument("--close-first", type=int, default=0, help="close the first N connections at once")
    p.add_argument("--drop-pubrel", type=int, default=0, help="swallow the N-th PUBREL and cut the line")
    p.add_argument("--mqtt311", action="store_true", help="refuse MQTT 5 as a 3.1.1 broker does")
    p.add_argument("--cut-at", default="", help="close the connection at a PUBLISH to a topic ending so")
    p.add_argument("--delay", type=float, default=0.0, help="hold the broker's answers back so long")
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
        log("connection", connections)
        try:
            broker = socket.create_connection(("127.0.0.1", a.broker))
        except OSError:  # the broker is down: so is the line
            client.close()
            continue
        threading.Thread(target=forward, args=(broker, client, a.delay), daemon=True).start()
        if a.drop_pubrel or a.mqtt311 or a.cut_at:  # MQTT in the clear
            threading.Thread(target=forward_packets, args=(client, broker, state, a), daemon=True).start()
        else:
            threading.Thread(target=forward, args=(client, broker), daemon=True).start()


if __name__ == "__main__":
    main()
