"""What the two parties of the walk-through share: one JSON document per line
on their standard input and output, and a transcript on standard error.

Only text crosses between the parties: points and scalars as their hex texts,
proofs as the JSON texts the module writes. Each party writes its transcript
lines to standard error, which walkthrough.py points at its own standard
output, so that the lines of both parties and of the carrier appear in the
order in which they happen.
"""
import json
import sys
import time

# Both parties agree on this before the transfer; the receiver verifies with
# its own copy and never takes the bit length from the sender's message.
RANGE_BITS = 64


class Party:
    def __init__(self, role):
        self.prefix = "[%s]" % role
        self.failed = []

    def say(self, text, ms=None, status=""):
        line = "%-11s%s" % (self.prefix, text)
        if ms is not None or status:
            line = "%-70s%-6s" % (line, status)
        if ms is not None:
            line += "%9.2f ms" % ms
        print(line.rstrip(), file=sys.stderr, flush=True)

    def step(self, text, fn, *args):
        """Runs fn(*args), writes `text` with the time it took, returns the result."""
        start = time.perf_counter()
        result = fn(*args)
        self.say(text, (time.perf_counter() - start) * 1e3)
        return result

    def check(self, text, fn, *args):
        """Runs a check that answers True or False; a refusal by exception counts
        as a failure. The module raises PanicException for text that does not
        decode, and it derives from BaseException, not Exception."""
        start = time.perf_counter()
        try:
            ok = bool(fn(*args))
            detail = ""
        except (KeyboardInterrupt, SystemExit):
            raise
        except BaseException as e:  # noqa: B036 -- PanicException is a BaseException
            ok = False
            detail = "%s: %s" % (type(e).__name__, str(e)[:110])
        ms = (time.perf_counter() - start) * 1e3
        self.say("check: " + text, ms, "ok" if ok else "FAILED")
        if detail:
            self.say("  " + detail)
        if not ok:
            self.failed.append(text)
        return ok

    def send(self, message):
        sys.stdout.write(json.dumps(message, separators=(",", ":")) + "\n")
        sys.stdout.flush()

    def receive(self, kind):
        line = sys.stdin.readline()
        if not line:
            self.say("the other party closed the channel")
            sys.exit(2)
        message = json.loads(line)
        if message.get("type") != kind:
            self.say("expected a %r message, got %r" % (kind, message.get("type")))
            sys.exit(2)
        return message
