"""The simulator's own behaviour: framing of its replies, fault modes, the control port."""

import json
import os
import socket
import struct
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import agentsim  # noqa: E402
import fixtures  # noqa: E402


def request(code, body=b""):
    return struct.pack("<HI", code, len(body)) + body


def read_frames(conn, limit=None):
    """Frames until the agent closes (or limit frames); each (code, body)."""
    data = b""
    frames = []
    conn.settimeout(10)
    while limit is None or len(frames) < limit:
        while len(data) >= 6:
            code, length = struct.unpack(">HI", data[:6])
            if len(data) < 6 + length:
                break
            frames.append((code, data[6:6 + length]))
            data = data[6 + length:]
            if limit is not None and len(frames) >= limit:
                return frames, data
        chunk = conn.recv(65536)
        if not chunk:
            break
        data += chunk
    return frames, data


class AgentTest(unittest.TestCase):
    def setUp(self):
        self.agent = agentsim.Agent(event_port=0, command_port=0, control_port=0)
        self.control = socket.create_connection(("127.0.0.1", self.agent.control_port))
        self.control_file = self.control.makefile("rwb")

    def tearDown(self):
        self.control_file.close()
        self.control.close()
        self.agent.stop()

    def ctl(self, **cmd):
        self.control_file.write((json.dumps(cmd) + "\n").encode())
        self.control_file.flush()
        return json.loads(self.control_file.readline())

    def ask(self, code, body=b"", limit=None):
        conn = socket.create_connection(("127.0.0.1", self.agent.command_port))
        conn.sendall(request(code, body))
        if limit is None:
            # The agent waits for the PC to close after the final frame: read what is due.
            frames = []
            expected = len(self.agent.reply_frames(code))
            got, rest = read_frames(conn, expected)
            frames.extend(got)
            conn.close()
            return frames, rest
        got = read_frames(conn, limit)
        conn.close()
        return got

    def test_contacts_come_in_batches_then_the_end_frame(self):
        frames, rest = self.ask(14)
        self.assertEqual(b"", rest)
        statuses = [body[0] for _, body in frames]
        self.assertEqual([0, 1, 2], statuses)  # five contacts, three per frame
        self.assertTrue(all(code == 14 for code, _ in frames))
        body = frames[0][1]
        # First record: ID "1", Name "Ann Example", Number "+1 555 0100"
        pos = 1
        fields = []
        for _ in range(3):
            (n,) = struct.unpack(">I", body[pos:pos + 4])
            fields.append(body[pos + 4:pos + 4 + n].decode())
            pos += 4 + n
        self.assertEqual(["1", "Ann Example", "+1 555 0100"], fields)
        self.assertEqual(b"\x02", frames[-1][1])

    def test_the_request_is_recorded_as_sent(self):
        body = struct.pack("<I", 7) + struct.pack("<I", 2) + b"hi"
        self.ask(38, body)
        self.assertTrue(self.ctl(op="wait_requests", count=1)["ok"])
        reqs = self.ctl(op="requests")["requests"]
        self.assertEqual(38, reqs[0]["code"])
        self.assertEqual(body.hex(), reqs[0]["body"])

    def test_single_and_progress_replies(self):
        frames, _ = self.ask(38)
        self.assertEqual([(38, struct.pack(">I", fixtures.VALUE_38))], frames)
        frames, _ = self.ask(54)
        self.assertEqual([0, 1, 2], [body[0] for _, body in frames])
        frames, _ = self.ask(111)
        self.assertEqual(b"\x02" + struct.pack(">Q", fixtures.DIRS_TOTAL), frames[-1][1])

    def test_fault_modes(self):
        normal, _ = self.ask(47)
        for mode in ("split", "coalesce"):
            self.ctl(op="fault", mode=mode)
            frames, _ = self.ask(47)
            self.assertEqual(normal, frames, mode)
        self.ctl(op="fault", mode="close_early")
        conn = socket.create_connection(("127.0.0.1", self.agent.command_port))
        conn.sendall(request(47))
        frames, rest = read_frames(conn)
        conn.close()
        self.assertEqual(normal[:-1], frames)
        self.ctl(op="fault", mode="unlisted")
        frames, _ = self.ask(47, limit=1 + len(normal))
        self.assertEqual(agentsim.UNLISTED_CODE, frames[0][0])
        self.assertEqual(normal, frames[1:])
        self.ctl(op="fault", mode="huge")
        conn = socket.create_connection(("127.0.0.1", self.agent.command_port))
        conn.sendall(request(47))
        conn.settimeout(10)
        header = b""
        while len(header) < 6:
            header += conn.recv(6 - len(header))
        conn.close()
        self.assertEqual((47, agentsim.HUGE_LENGTH), struct.unpack(">HI", header))
        self.ctl(op="fault", mode="silent")
        conn = socket.create_connection(("127.0.0.1", self.agent.command_port))
        conn.sendall(request(47))
        conn.settimeout(0.3)
        with self.assertRaises(socket.timeout):
            conn.recv(1)
        conn.close()
        self.assertTrue(self.ctl(op="wait_idle")["ok"])

    def test_notifications_reach_subscribers(self):
        ev = socket.create_connection(("127.0.0.1", self.agent.event_port))
        ev.sendall(request(8))
        self.assertTrue(self.ctl(op="wait_subscribed", count=1)["ok"])
        self.assertEqual(1, self.ctl(op="notify", codes=[19, 107], mode="coalesce")["sent"])
        frames, _ = read_frames(ev, 2)
        self.assertEqual(19, frames[0][0])
        s = fixtures.NOTIFICATIONS[19]["S"].encode()
        self.assertEqual(struct.pack(">I", len(s)) + s, frames[0][1])
        self.assertEqual(107, frames[1][0])
        self.assertEqual(1, frames[1][1][0])
        ev.close()

    def test_generated_contacts(self):
        self.ctl(op="generate", code=14, count=1000)
        self.ctl(op="per_frame", value=100)
        frames, _ = self.ask(14)
        self.assertEqual(11, len(frames))


if __name__ == "__main__":
    unittest.main()
