"""A real SMTP server for the socket tests: aiosmtpd on 127.0.0.1 at a free
port (or the one given after the folder). Prints the port, then records
each accepted message as <out>/msg-<n>.data (the text as received, transparency undone) and
<out>/msg-<n>.done (lines: HELO name, envelope sender, recipients) until
stdin closes or the process is terminated. While a file <out>/reply exists,
the end of each message is answered with its first line instead (a 451 or a
550) and the message is not recorded."""
import os
import signal
import socket
import sys
import threading

from aiosmtpd.controller import Controller


class Recorder:
    def __init__(self, out):
        self.out = out
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        try:
            with open(os.path.join(self.out, "reply")) as f:
                return f.readline().strip()
        except FileNotFoundError:
            pass
        with self.lock:
            self.count += 1
            n = self.count
        base = os.path.join(self.out, "msg-%d" % n)
        with open(base + ".data", "wb") as f:
            f.write(envelope.original_content)
        with open(base + ".env", "w") as f:
            f.write("\n".join([session.host_name or "", envelope.mail_from or ""]
                              + list(envelope.rcpt_tos)) + "\n")
        os.replace(base + ".env", base + ".done")
        return "250 Message accepted for delivery"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    out = sys.argv[1]
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    controller = None
    for _ in range(20):
        try:
            controller = Controller(Recorder(out), hostname="127.0.0.1",
                                    port=port or free_port())
            controller.start()
            break
        except Exception:
            controller = None
    if controller is None:
        print("no port", flush=True)
        return 1
    print(controller.port, flush=True)
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *a: done.set())
    threading.Thread(target=lambda: (sys.stdin.read(), done.set()), daemon=True).start()
    done.wait()
    controller.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
