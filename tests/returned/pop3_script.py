"""A POP3 server on loopback with one scripted fault, for the failures a real
server will not produce on demand.

    pop3_script.py FAULT LOGFILE [MESSAGES]

Prints "PORT n" once it listens, then serves connections one after another
until it is killed. Every line a client sends is appended to LOGFILE; a new
connection starts with the line "--". The mailbox outlives connections:
DELE marks, QUIT removes, RSET and a dropped connection undo the marks.

FAULT is one of:
  none            every command answered as RFC 1939 says
  capa-err        CAPA is not understood
  pass-err        PASS is refused
  top-err:N       TOP N is refused, on the first connection only
  retr-drop:N     half of message N, then the connection is dropped (first connection)
  stall:LINE      a command line beginning LINE gets no answer at all, on the first
                  connection only; the server waits for the client to go
  huge-stat       STAT claims 2147483647 messages
  endless:CMD     CMD answers +OK, then lines without end
  trickle:CMD     CMD answers a byte every 50 ms, never ending the line
  endless-greeting  the greeting is one line that never ends
  endless-retr:N  RETR N answers one line that never ends
  big-retr:N      LIST says message N is small; RETR sends 200 KB of it
  stls-refused    CAPA offers STLS; STLS is refused
  odd-lines:N     message 1 holds dot lines and a bare LF; RETR 1 comes in pieces of N bytes
  big-top:N       message N has a header of 5000 bytes, its Message-ID near the top
"""

import select
import socket
import sys
import time

fault = sys.argv[1]
log_path = sys.argv[2]
count = int(sys.argv[3]) if len(sys.argv) > 3 else 3
name, _, arg = fault.partition(":")


def message(k):
    body = b"The address user%d@far.test was rejected.\r\n" % k
    if name == "big-retr" and k == int(arg):
        body = (b"x" * 76 + b"\r\n") * 2700
    if name == "odd-lines" and k == 1:
        body = (b".leading dot\r\n..two dots\r\n.\r\n.\r\r\nbare LF\nafter it\r\n\r\n"
                + b"y" * 300 + b"\r\nno line end")
    pad = b""
    if name == "big-top" and k == int(arg):
        pad = b"X-Pad: " + b"p" * 60 + b"\r\n\t" + b"p" * 60 + b"\r\n"
        pad += b"".join(b"X-Pad-%d: %s\r\n" % (i, b"p" * 60) for i in range(72))
    return (b"From: MAILER-DAEMON@bounce.test\r\nTo: sender@our.test\r\n"
            b"Subject: Undelivered %d\r\nMessage-ID: <%d@bounce.test>\r\n" % (k, k)) + pad + b"\r\n" + body


mailbox = {k: message(k) for k in range(1, count + 1)}
log = open(log_path, "ab", buffering=0)


def listed_size(k):
    return 100 if name == "big-retr" and k == int(arg) else len(mailbox[k])


def stuffed(text):
    lines = text.split(b"\r\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return b"".join((b"." + l if l.startswith(b".") else l) + b"\r\n" for l in lines) + b".\r\n"


def wait_for_close(conn, seconds):
    end = time.time() + seconds
    while time.time() < end:
        ready, _, _ = select.select([conn], [], [], 0.05)
        if ready and not conn.recv(4096):
            return


def endless(conn, cmd):
    conn.sendall(b"+OK\r\n")
    end = time.time() + 10
    i = 0
    while time.time() < end:
        if cmd == "LIST":
            chunk = b"".join(b"%d 100\r\n" % (i + j + 1) for j in range(1000))
        elif cmd == "TOP":
            chunk = b"".join(b"X-Header-%d: value\r\n" % (i + j) for j in range(1000))
        else:
            chunk = b"".join(b"X-CAPABILITY-%d\r\n" % (i + j) for j in range(1000))
        i += 1000
        conn.sendall(chunk)


def trickle(conn):
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    conn.sendall(b"+")
    for _ in range(200):
        ready, _, _ = select.select([conn], [], [], 0.05)
        if ready and not conn.recv(4096):
            return
        conn.sendall(b"O")


def serve(conn, first):
    f = conn.makefile("rb")
    out = conn.sendall

    def pieces(data):
        step = int(arg)
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        for i in range(0, len(data), step):
            conn.sendall(data[i:i + step])
            time.sleep(0.0005)

    if name == "endless-greeting":
        out(b"+OK " + b"x" * 200000)
        time.sleep(5)
        return
    out(b"+OK scripted POP3 ready\r\n")
    marked = set()
    numbers = sorted(mailbox)  # message numbers stay fixed within a session
    while True:
        raw = f.readline()
        if not raw:
            return
        line = raw.rstrip(b"\r\n")
        log.write(line + b"\n")
        words = line.split(b" ")
        cmd = words[0].upper().decode()
        if name == "stall" and first and line.upper().startswith(arg.upper().encode()):
            wait_for_close(conn, 10)
            return
        if name == "endless" and cmd == arg:
            endless(conn, cmd)
            return
        if name == "trickle" and cmd == arg:
            trickle(conn)
            return
        n = int(words[1]) if len(words) > 1 and words[1].isdigit() else 0
        k = numbers[n - 1] if 1 <= n <= len(numbers) else None
        if cmd == "CAPA":
            if name == "capa-err":
                out(b"-ERR unknown command\r\n")
            else:
                out(b"+OK\r\nUSER\r\nTOP\r\n" + (b"STLS\r\n" if name == "stls-refused" else b"") + b".\r\n")
        elif cmd == "STLS":
            out(b"-ERR TLS not available here\r\n")
        elif cmd == "USER":
            out(b"+OK\r\n")
        elif cmd == "PASS":
            out(b"-ERR [AUTH] Authentication failed.\r\n" if name == "pass-err" else b"+OK logged in\r\n")
        elif cmd == "STAT":
            live = [m for m in numbers if m not in marked]
            if name == "huge-stat":
                out(b"+OK 2147483647 0\r\n")
            else:
                out(b"+OK %d %d\r\n" % (len(live), sum(len(mailbox[m]) for m in live)))
        elif cmd == "LIST":
            out(b"+OK\r\n" + b"".join(b"%d %d\r\n" % (i + 1, listed_size(m))
                                      for i, m in enumerate(numbers) if m not in marked) + b".\r\n")
        elif cmd == "TOP" and k:
            if name == "top-err" and n == int(arg) and first:
                out(b"-ERR no such message\r\n")
            else:
                out(b"+OK\r\n" + stuffed(mailbox[k].split(b"\r\n\r\n")[0] + b"\r\n\r\n"))
        elif cmd == "RETR" and k:
            if name == "retr-drop" and n == int(arg) and first:
                out(b"+OK\r\n" + mailbox[k][: len(mailbox[k]) // 2])
                return
            if name == "endless-retr" and n == int(arg):
                out(b"+OK\r\n")
                for _ in range(40):
                    out(b"A" * 50000)
                time.sleep(5)
                return
            if name == "odd-lines" and n == 1:
                pieces(b"+OK\r\n" + stuffed(mailbox[k]))
            else:
                out(b"+OK\r\n" + stuffed(mailbox[k]))
        elif cmd == "DELE" and k:
            marked.add(k)
            out(b"+OK marked\r\n")
        elif cmd == "RSET":
            marked.clear()
            out(b"+OK\r\n")
        elif cmd == "QUIT":
            for m in marked:
                del mailbox[m]
            out(b"+OK bye\r\n")
            return
        else:
            out(b"-ERR what?\r\n")


server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", 0))
server.listen(4)
print("PORT %d" % server.getsockname()[1], flush=True)
first = True
while True:
    conn, _ = server.accept()
    log.write(b"--\n")
    try:
        serve(conn, first)
    except (BrokenPipeError, ConnectionResetError):
        pass
    finally:
        first = False
        conn.close()
