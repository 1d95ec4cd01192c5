#!/usr/bin/env python3
"""A serial device server for the tests, built on pyserial's RFC 2217 server side: one TCP
client at a time on 127.0.0.1 is bridged to a serial device (the simulated projector's
pseudo-terminal), and COM port control from the client sets the device's line.

usage: rfc2217_bridge.py DEVICE -- prints "listening PORT" once it accepts connections."""

import socket
import sys
import threading

import serial
import serial.rfc2217


class Connection:
    """What PortManager writes to: the client's socket, one writer at a time."""

    def __init__(self, sock):
        self.sock = sock
        self.lock = threading.Lock()

    def write(self, data):
        with self.lock:
            self.sock.sendall(data)


def serve(device, client):
    client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    connection = Connection(client)
    manager = serial.rfc2217.PortManager(device, connection)
    # A pseudo-terminal has no modem lines to report.
    manager.check_modem_lines = lambda force_notification=False: None
    done = threading.Event()

    def device_to_client():
        while not done.is_set():
            data = device.read(device.in_waiting or 1)
            if data:
                connection.write(b"".join(manager.escape(data)))

    reader = threading.Thread(target=device_to_client, daemon=True)
    reader.start()
    try:
        while True:
            data = client.recv(4096)
            if not data:
                break
            device.write(b"".join(manager.filter(data)))
    except ConnectionError:
        pass
    done.set()
    reader.join()
    client.close()


def main():
    device = serial.Serial(sys.argv[1], 9600, timeout=0.05)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    print("listening", listener.getsockname()[1], flush=True)
    while True:
        client, _ = listener.accept()
        serve(device, client)


if __name__ == "__main__":
    main()
