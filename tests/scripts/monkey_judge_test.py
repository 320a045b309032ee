#!/usr/bin/env python3
"""The random user's judge of the wire: what it calls a fault and what not."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import monkey  # noqa: E402

ENTER = bytes.fromhex("fb 09 01 00 51 4d 58 32 34 30 30")
ENTER_REPLY = bytes.fromhex("fb 02 01 10")
EXIT_REPLY = bytes.fromhex("fb 02 02 11")
GET = bytes.fromhex("fb 05 03 03 00 00 2c")
TX = bytes.fromhex("fb 06 04 05 01 00 41 42")


class JudgeTest(unittest.TestCase):
    def judged(self, *steps):
        judge = monkey.Judge()
        for direction, data in steps:
            (judge.from_radio if direction == "r" else judge.from_host)(data)
        return judge

    def test_frames_in_protocol_mode_pass_whole_or_in_pieces(self):
        judge = self.judged(("h", ENTER), ("r", ENTER_REPLY), ("h", GET), ("h", TX[:3]), ("h", TX[3:] + GET))
        self.assertEqual(judge.state, "protocol")
        self.assertIsNone(judge.violation)

    def test_text_in_protocol_mode_is_a_fault(self):
        judge = self.judged(("r", ENTER_REPLY), ("h", b"y"))
        self.assertIn("outside any frame", judge.violation)
        judge = self.judged(("r", ENTER_REPLY), ("h", bytes([0xFB, 0x01])))
        self.assertIn("frame length 1", judge.violation)

    def test_out_of_protocol_mode_text_passes_and_a_poll_does_not(self):
        self.assertIsNone(self.judged(("r", EXIT_REPLY), ("h", b"hello\r"), ("h", ENTER)).violation)
        judge = self.judged(("r", EXIT_REPLY), ("h", b"ab" + GET))
        self.assertIn("Get Register frame written while the radio is out of protocol mode", judge.violation)

    def test_the_mode_follows_replies_split_across_reads(self):
        judge = self.judged(("r", ENTER_REPLY[:2]), ("r", ENTER_REPLY[2:] + b"\x00"))
        self.assertEqual(judge.state, "protocol")
        judge = self.judged(("r", ENTER_REPLY), ("r", bytes.fromhex("fb 02 05 12")))
        self.assertEqual(judge.state, "unknown", "a reset leaves the mode to the radio's settings")

    def test_nothing_is_judged_at_the_boot_line_nor_after_a_late_reply_there(self):
        judge = monkey.Judge()
        judge.set_state("boot")
        judge.from_radio(ENTER_REPLY)  # late, from before the boot line
        judge.from_host(b"\x03\x03U\r")
        self.assertEqual(judge.state, "boot")
        self.assertIsNone(judge.violation)


if __name__ == "__main__":
    unittest.main()
