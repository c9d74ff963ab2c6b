"""The receiving party: publishes a public key, checks a confidential transfer
made to it from the text alone, and recovers the amount with its secret key.

Run by walkthrough.py; speaks JSON lines on standard input and output.
Exits with status 0 when every check passed and 1 otherwise.
"""
import sys

import nacrel

from wire import RANGE_BITS, Party

# Amounts are 32-bit values; the search covers every non-negative one.
SEARCH_BOUND = 2**31 - 1


def main():
    me = Party("receiver")
    gh = me.step("generator pair gen_GH(): fixed, no randomness", nacrel.gen_GH)
    keys = me.step("key pair: secret sk, public pk = h*sk", nacrel.gen_pb_sk, gh)
    me.send({"type": "hello", "g": gh.g, "h": gh.h, "pk": keys.get_pk()})

    transfer = me.receive("transfer")
    amount, change = transfer["amount"], transfer["change"]

    # Decoding a malformed text raises; treat it as a failed check, not a crash.
    def read(decode, text):
        try:
            return decode(text)
        except (KeyboardInterrupt, SystemExit):
            raise
        except BaseException as e:  # noqa: B036 -- PanicException
            me.say("cannot decode %s...: %s" % (text[:16], str(e)[:110]))
            me.failed.append("decode")
            return None

    cm_in = read(nacrel.from_str, transfer["input"])
    cm_out = read(nacrel.from_str, amount["commitment"])
    token = read(nacrel.to_token_from_str, amount["token"])
    cm_change = read(nacrel.from_str, change["commitment"])
    if None in (cm_in, cm_out, token, cm_change):
        return finish(me)
    pk = keys.get_pk()

    me.check("consistency: amount and token share one blinding",
             nacrel.consistency_proof_verify, amount["consistency_proof"], gh, cm_out, token, pk)
    me.check("range: amount in [0, 2^%d)" % RANGE_BITS,
             nacrel.range_proof_single_verify, amount["range_proof"], RANGE_BITS, gh, cm_out)
    me.say("  (the first verification in a process also derives the generators)")
    me.check("range: change in [0, 2^%d)" % RANGE_BITS,
             nacrel.range_proof_single_verify, change["range_proof"], RANGE_BITS, gh, cm_change)
    # cm_in - cm_out - cm_change is the point at infinity exactly when values and
    # blindings both balance: input = amount + change (no wrap-around, since both
    # outputs are below 2^64), and the sender chose r_change = r_in - r_out.
    if me.check("balance: input - amount - change = 0",
                lambda: cm_in.sub(cm_out).sub(cm_change).is_zero()):
        me.say("  so input = amount + change, and the change's range proof shows")
        me.say("  that the sender paid at most its input")

    # With token = pk*r = sk*(h*r) the key holder strips the blinding and
    # searches the value. -1 means "not found" here, since the range proof
    # rules out a negative amount.
    value = me.step("recover the amount: get_brut_v(cm_out, token, sk)",
                    nacrel.get_brut_v, cm_out, token, gh, keys, SEARCH_BOUND)
    if value >= 0:
        me.say("recovered amount: %d" % value)
    me.check("recovery: amount found by the search", lambda: value >= 0)
    return finish(me)


def finish(me):
    accepted = not me.failed
    me.say("transfer %s" % ("accepted" if accepted else "REFUSED: " + ", ".join(me.failed)))
    me.send({"type": "receipt", "accepted": accepted, "failed": me.failed})
    return 0 if accepted else 1


if __name__ == "__main__":
    sys.exit(main())
