"""A real SMTP server for the socket tests: aiosmtpd on 127.0.0.1 (or --host,
such as ::1) at a free port (or --port). Prints the port, then records each accepted message as
<out>/msg-<n>.data (the text as received, transparency undone) and
<out>/msg-<n>.done (lines: HELO name, envelope sender, recipients) until
stdin closes or the process is terminated. While a file <out>/reply exists,
the end of each message is answered with its first line instead (a 451 or a
550) and the message is not recorded.

--starttls or --tls with --cert and --key: STARTTLS required, or TLS from the
first byte. --auth USER:SECRET: AUTH required; PLAIN and LOGIN take SECRET as
the password, XOAUTH2 and OAUTHBEARER as the token; with --plain-auth AUTH is
offered without TLS too. --size N: SIZE limit. --pipelining: PIPELINING
offered (aiosmtpd reads pipelined commands in order anyway)."""
import argparse
import base64
import os
import signal
import socket
import ssl
import sys
import threading
import warnings
import logging

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Recorder:
    def __init__(self, out, user, secret, pipelining=False):
        self.out = out
        self.pipelining = pipelining
        self.user = user
        self.secret = secret
        self.count = 0
        self.lock = threading.Lock()

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        if self.pipelining:
            responses.insert(-1, "250-PIPELINING")
        return responses

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

    def authenticate(self, server, session, envelope, mechanism, data):
        ok = (isinstance(data, LoginPassword) and data.login.decode() == self.user
              and data.password.decode() == self.secret)
        return AuthResult(success=ok, handled=False)

    async def _bearer(self, server, args, expected):
        got = base64.b64decode(args[1]).decode() if len(args) > 1 else ""
        if got == expected:
            return AuthResult(success=True, auth_data=self.user)
        # Providers answer a bad token with an error challenge first.
        await server.challenge_auth('{"status":"401"}')
        return AuthResult(success=False, handled=False)

    async def auth_XOAUTH2(self, server, args):
        return await self._bearer(server, args, "user=%s\x01auth=Bearer %s\x01\x01"
                                  % (self.user, self.secret))

    async def auth_OAUTHBEARER(self, server, args):
        return await self._bearer(server, args, "n,a=%s,\x01auth=Bearer %s\x01\x01"
                                  % (self.user, self.secret))


def free_port(host):
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    with socket.socket(family) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


def main():
    warnings.simplefilter("ignore")
    logging.disable(logging.CRITICAL)
    p = argparse.ArgumentParser()
    p.add_argument("out")
    p.add_argument("port_arg", nargs="?", type=int, default=0)
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--starttls", action="store_true")
    p.add_argument("--tls", action="store_true")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--auth")
    p.add_argument("--plain-auth", action="store_true")
    p.add_argument("--size", type=int, default=33554432)
    p.add_argument("--pipelining", action="store_true")
    a = p.parse_args()
    a.port = a.port or a.port_arg
    user, _, secret = (a.auth or "").partition(":")
    handler = Recorder(a.out, user, secret, a.pipelining)
    kwargs = {"data_size_limit": a.size}
    if a.starttls or a.tls:
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(a.cert, a.key)
        if a.tls:
            # aiosmtpd counts only STARTTLS as encryption when it offers AUTH.
            kwargs.update(ssl_context=ctx, auth_require_tls=False)
        else:
            kwargs.update(tls_context=ctx, require_starttls=True)
    if a.auth:
        kwargs.update(authenticator=handler.authenticate, auth_required=True)
        if a.plain_auth:
            # AUTH offered in plain text too: a client sends it to loopback.
            kwargs.update(auth_require_tls=False)
    controller = None
    for _ in range(20):
        try:
            controller = Controller(handler, hostname=a.host,
                                    port=a.port or free_port(a.host), **kwargs)
            controller.start()
            break
        except Exception as e:
            controller = None
            error = e
            if a.port:
                break
    if controller is None:
        print("no port: %s" % error, flush=True)
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
