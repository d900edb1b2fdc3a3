"""A real SMTP server for the tests (Debian's python3-aiosmtpd), started by SmtpServerFixture.

It serves the listening socket the fixture hands over as descriptor 3, so it needs no port of
its own and a client may connect before it runs. Its settings come as one JSON line on standard
input (the test password never goes on a command line); it prints "ready" once it serves.

mode      "plain", "starttls" (STARTTLS offered, AUTH only after it) or "ssl" (TLS from the
          first byte)
cert, key the server's certificate and key (starttls, ssl)
user, password  AUTH PLAIN / LOGIN with these, required before MAIL; none: no AUTH
refuse    recipients answered 550
maildir   each message lands there as N.eml (the bytes received) and N.envelope ("from ADDR",
          "to ADDR" for each accepted recipient, "login USER" when authenticated), written before
          the 250 reply; every AUTH attempt is noted in auth.log ("LOGIN ok|refused"), never with
          its password
"""

import asyncio
import json
import os
import signal
import socket
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def write_file(path, data):
    temporary = path + ".tmp"
    with open(temporary, "wb") as out:
        out.write(data)
    os.replace(temporary, path)


class Handler:
    def __init__(self, config):
        self.maildir = config["maildir"]
        self.refused = {address.lower() for address in config.get("refuse", [])}
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.refused:
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 2.1.5 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.maildir, str(self.count))
        lines = ["from " + envelope.mail_from] + ["to " + address for address in envelope.rcpt_tos]
        login = getattr(session, "login_data", None)
        if login:
            lines.append("login " + login.decode("utf-8", "replace"))
        write_file(base + ".eml", envelope.original_content)
        write_file(base + ".envelope", ("\n".join(lines) + "\n").encode("utf-8"))
        return "250 2.0.0 Ok: queued as %d" % self.count


def make_authenticator(config):
    user = config["user"].encode("utf-8")
    password = config["password"].encode("utf-8")
    log = os.path.join(config["maildir"], "auth.log")

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and auth_data.login == user and auth_data.password == password
        with open(log, "a", encoding="utf-8") as out:
            out.write("%s %s\n" % (mechanism, "ok" if ok else "refused"))
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    return authenticate


def main():
    config = json.loads(sys.stdin.readline())
    mode = config["mode"]
    context = None
    if mode in ("starttls", "ssl"):
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(config["cert"], config["key"])
    handler = Handler(config)
    with_auth = bool(config.get("user"))

    def protocol():
        return SMTP(
            handler,
            hostname="bv-test-smtp",
            tls_context=context if mode == "starttls" else None,
            authenticator=make_authenticator(config) if with_auth else None,
            auth_required=with_auth,
            # Over STARTTLS, AUTH only once TLS is on; with TLS from the start, or without TLS at
            # all (plain mode), at once.
            auth_require_tls=(mode == "starttls"),
            auth_exclude_mechanism=[],
        )

    listener = socket.socket(fileno=3)
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(
        loop.create_server(protocol, sock=listener, ssl=context if mode == "ssl" else None))
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    print("ready", flush=True)
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == "__main__":
    main()
