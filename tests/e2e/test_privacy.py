"""What a password manager copies stays unread: a copying program offers an
address with the password managers' hint "secret" beside it, on an Xvfb
display and under headless sway (data-control), and Tolvane sends nothing
and never logs the address; the same address unmarked, or with another hint,
is requested. The copying program is clip_offer, built with the tests,
because xclip and wl-copy offer one type only."""

import os
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import e2e_args  # noqa: E402
from desktop import Desktop, WaylandSession, tolvane_on, wait_until  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()
CLIP_OFFER = os.path.join(ARGS.build, "tests", "shell", "clip_offer")


class SecretCopies:
    def make_session(self):
        raise NotImplementedError

    def setUp(self):
        self.session = self.make_session()
        self.t = tolvane_on(self, self.session, ARGS.bin)
        self.session.write_file(os.path.join(self.t.work, "Test Message.Flg"), " ")
        self.t.write_settings(CheckHistory=0)
        self.offers = 0

    def offer(self, url, *hint):
        """The log's lines once clip_offer's copy of url (with hint) is seen."""
        self.offers += 1
        name = "clip_offer-%d" % self.offers
        mark = len(self.t.log())
        self.session.launch([CLIP_OFFER, url, *hint], name=name)
        wait_until(lambda: "offered" in self.session.log(name), what=name + " offering")
        self.t.wait_log("CB change detected", mark)
        time.sleep(0.5)
        # A slow start may still be filling the window's fields meanwhile.
        return [line for line in self.t.log()[mark:]
                if not line.startswith(("Email: ", "SMTP: "))]

    def test_a_secret_copy_is_not_read_and_the_same_unmarked_is_requested(self):
        self.t.start()
        url = "http://host/vault/entry.html"
        self.assertEqual(self.offer(url, "secret"),
                         ["Secret clipboard offer not read", "CB change detected"])
        self.assertEqual(self.t.smtp.messages(), [])
        with open(os.path.join(self.t.folder, "DebugLog.Txt"), "rb") as f:
            self.assertNotIn(b"vault", f.read())

        self.offer(url)
        self.t.wait_messages(1)
        self.offer("http://host/other-hint.html", "public")
        self.t.wait_messages(2)
        sent = [data.split("send ", 1)[1].split("\r\n", 1)[0]
                for _, data in self.t.smtp.messages()]
        self.assertEqual(sent, [url, "http://host/other-hint.html"])


class X11(SecretCopies, unittest.TestCase):
    def make_session(self):
        return Desktop(ARGS.artifacts, "privacy", 1024, 768)


class Sway(SecretCopies, unittest.TestCase):
    def make_session(self):
        return WaylandSession(ARGS.artifacts, "privacy-wayland", "sway")


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
