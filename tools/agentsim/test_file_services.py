"""The simulator's file services: receiving sent files, serving get requests, their fault modes."""

import os
import shutil
import socket
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import agentsim  # noqa: E402


def send_header(code, path, size):
    p = path.encode("utf-8")
    return struct.pack("<HII", code, 4 + len(p) + size, len(p)) + p


def get_request(code, path):
    p = path.encode("utf-8")
    return struct.pack("<HII", code, 4 + len(p), len(p)) + p


def read_all(conn):
    data = b""
    conn.settimeout(10)
    while True:
        try:
            chunk = conn.recv(65536)
        except ConnectionResetError:  # closed with our bytes unread
            return data
        if not chunk:
            return data
        data += chunk


class FileServicesTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="agentsim_files_")
        self.agent = agentsim.Agent(event_port=0, command_port=0, control_port=0, send_port=0, get_port=0,
                                    files_dir=self.dir)

    def tearDown(self):
        self.agent.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def send(self, path, content):
        c = socket.create_connection(("127.0.0.1", self.agent.send_port))
        try:
            c.sendall(send_header(3, path, len(content)) + content)
            c.shutdown(socket.SHUT_WR)
            answer = read_all(c)
        except OSError:
            # An agent that closes mid-file may do so before the last bytes or the shutdown
            # went out (reset, not connected): no answer byte either way.
            answer = b""
        c.close()
        return answer

    def test_a_sent_file_is_stored_and_answered_with_one_byte(self):
        self.assertEqual(1, len(self.send("/sdcard/in/a.txt", b"hello")))
        with open(os.path.join(self.dir, "sdcard", "in", "a.txt"), "rb") as f:
            self.assertEqual(b"hello", f.read())
        self.assertEqual(b"", self.send("/sdcard/../../escape", b"x")[1:])  # answered, never stored outside
        self.assertFalse(os.path.exists(os.path.join(os.path.dirname(self.dir), "escape")))

    def test_send_faults(self):
        self.agent.file_faults = ["no_answer", "close_mid_file"]
        self.assertEqual(b"", self.send("/a", b"123456"))
        self.assertEqual(b"", self.send("/b", b"123456"))
        files = self.agent.received_files
        self.assertTrue(files[0]["complete"])
        self.assertFalse(files[1]["complete"])
        self.assertFalse(os.path.exists(os.path.join(self.dir, "b")))

    def test_get_requests_on_one_connection_and_their_faults(self):
        os.makedirs(os.path.join(self.dir, "sdcard"))
        with open(os.path.join(self.dir, "sdcard", "f.bin"), "wb") as f:
            f.write(b"0123456789")
        c = socket.create_connection(("127.0.0.1", self.agent.get_port))
        c.settimeout(10)
        c.sendall(get_request(1, "/sdcard/f.bin"))
        reply = b""
        while len(reply) < 16:
            reply += c.recv(100)
        self.assertEqual(struct.pack(">HI", 1, 10) + b"0123456789", reply)
        c.sendall(get_request(101, "com.example"))
        reply = b""
        while len(reply) < 6 + 16:
            reply += c.recv(100)
        self.assertEqual(b"ICON:com.example", reply[6:])
        self.agent.file_faults = ["close_mid_file"]
        c.sendall(get_request(1, "/sdcard/f.bin"))
        self.assertEqual(struct.pack(">HI", 1, 10) + b"01234", read_all(c))
        c.close()
        c = socket.create_connection(("127.0.0.1", self.agent.get_port))
        c.sendall(get_request(1, "/sdcard/missing"))
        self.assertEqual(b"", read_all(c))
        c.close()


if __name__ == "__main__":
    unittest.main()
