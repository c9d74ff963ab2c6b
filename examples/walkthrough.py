"""A confidential transfer between two processes that exchange only JSON text.

This script starts receiver.py and sender.py as two separate processes and
carries their messages between them, one JSON document per line, the way a
network would; it prints what crosses, with sizes, while the two parties print
what they do, with timings.

  1. receiver -> sender   hello: the generators g, h and the receiver's public key
  2. sender -> receiver   transfer: the input commitment, the amount as a
                          commitment with a token for the receiver, a consistency
                          proof and a range proof, and the change as a commitment
                          with a range proof
  3. receiver -> sender   receipt: accepted or refused, and which checks failed

The receiver checks every proof from the text alone, checks that input, amount
and change balance, and recovers the amount with its secret key.

Exit status 0 when both parties finished and the receiver accepted; 1 otherwise.
With --tamper the carrier swaps the two output commitments in transit: the
balance still holds (addition commutes), but the proofs no longer match their
commitments and the receiver refuses the transfer.
"""
import argparse
import json
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TIMEOUT_S = 60


def say(text):
    print(text, flush=True)


def start(role):
    # The party's transcript goes to its standard error, which shares our
    # standard output, so all lines come out in the order they happen.
    return subprocess.Popen([sys.executable, os.path.join(HERE, role + ".py")],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=sys.stdout,
                            text=True, encoding="utf-8")


def finish(party):
    """The party's exit status; a party that does not end in time is stopped."""
    try:
        return party.wait(timeout=TIMEOUT_S)
    except subprocess.TimeoutExpired:
        party.kill()
        return party.wait()


def sizes(message, prefix=""):
    """(path, length in characters) of every text member of a message."""
    out = []
    for key, value in message.items():
        if isinstance(value, dict):
            out += sizes(value, prefix + key + ".")
        elif isinstance(value, str) and key != "type":
            out.append((prefix + key, len(value)))
    return out


def carry(src, dst, route, tamper=False):
    """Moves one line from src to dst and describes it; None when src closed."""
    line = src.stdout.readline()
    if not line:
        return None
    message = json.loads(line)
    if tamper:
        amount, change = message["amount"], message["change"]
        amount["commitment"], change["commitment"] = change["commitment"], amount["commitment"]
        line = json.dumps(message, separators=(",", ":")) + "\n"
    say("%-21s %s, %d bytes of JSON%s" % (route, message["type"], len(line.encode()),
                                          "  (TAMPERED: output commitments swapped)" if tamper else ""))
    for path, n in sizes(message):
        say("%-23s %-32s %5d chars" % ("", path, n))
    dst.stdin.write(line)
    dst.stdin.flush()
    return message


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tamper", action="store_true",
                        help="swap the two output commitments in transit")
    args = parser.parse_args()

    say("nacrel confidential transfer: two processes, JSON lines over pipes")
    started = time.perf_counter()
    receiver = start("receiver")
    sender = start("sender")
    say("receiver: process %d, sender: process %d; this process carries their lines"
        % (receiver.pid, sender.pid))
    receipt = None
    try:
        if carry(receiver, sender, "receiver -> sender") is not None:
            if carry(sender, receiver, "sender -> receiver", tamper=args.tamper) is not None:
                receipt = carry(receiver, sender, "receiver -> sender")
    finally:
        for party in (receiver, sender):
            party.stdin.close()
        codes = [finish(party) for party in (receiver, sender)]

    elapsed = (time.perf_counter() - started) * 1e3
    ok = receipt is not None and receipt["accepted"] and codes == [0, 0]
    if ok:
        say("walk-through complete: all checks passed (%.0f ms in all, including start-up)" % elapsed)
        return 0
    say("walk-through FAILED: receipt %s, exit status receiver %d, sender %d"
        % ("missing" if receipt is None else "refused" if not receipt["accepted"] else "accepted",
           codes[0], codes[1]))
    return 1


if __name__ == "__main__":
    sys.exit(main())
