"""The sending party: pays an amount out of committed funds to the holder of
a public key and keeps the change, all as commitments with proofs.

Run by walkthrough.py; speaks JSON lines on standard input and output.
Exits with status 0 when the receiver accepted the transfer and 1 otherwise.
"""
import sys

import nacrel

from wire import RANGE_BITS, Party

FUNDS, AMOUNT = 1000, 250


def main():
    me = Party("sender")
    hello = me.receive("hello")
    pk = hello["pk"]

    gh = me.step("generator pair gen_GH(), computed on this side too", nacrel.gen_GH)
    if not me.check("generators: g and h equal the receiver's",
                    lambda: gh.g == hello["g"] and gh.h == hello["h"]):
        return 1

    # The input: funds the sender holds as a commitment that both sides already
    # know (in a ledger, the output of an earlier transfer); only the sender
    # knows its opening (FUNDS, r_in).
    change = FUNDS - AMOUNT
    me.say("funds %d, paying %d, change %d (known only to the sender)" % (FUNDS, AMOUNT, change))
    r_in = nacrel.gen_r()
    cm_in = nacrel.commit(FUNDS, r_in, gh)

    # The two outputs. The change's blinding is r_in - r_out, so that
    # cm_in = cm_out + cm_change holds as points.
    r_out = nacrel.gen_r()
    r_change = r_in.sub(r_out)
    cm_out = me.step("commit to the amount: amount*g + r_out*h",
                     nacrel.commit, AMOUNT, r_out, gh)
    cm_change = me.step("commit to the change with r_change = r_in - r_out",
                        nacrel.commit, change, r_change, gh)
    token = me.step("token for the receiver: pk*r_out", nacrel.to_token_from_pk, pk, r_out)
    consistency = me.step("consistency proof: cm_out and token share r_out",
                          nacrel.consistency_proof, AMOUNT, r_out, gh, cm_out, token, pk)
    range_out = me.step("range proof of the amount, %d bits" % RANGE_BITS,
                        nacrel.range_proof_single, RANGE_BITS, AMOUNT, gh, r_out)
    me.say("  (the first range proof in a process also derives the generators)")
    range_change = me.step("range proof of the change, %d bits" % RANGE_BITS,
                           nacrel.range_proof_single, RANGE_BITS, change, gh, r_change)

    me.send({
        "type": "transfer",
        "input": cm_in.get,
        "amount": {"commitment": cm_out.get, "token": token.get,
                   "consistency_proof": consistency, "range_proof": range_out},
        "change": {"commitment": cm_change.get, "range_proof": range_change},
    })
    receipt = me.receive("receipt")
    me.say("receiver %s the transfer" % ("accepted" if receipt["accepted"] else "refused"))
    return 0 if receipt["accepted"] else 1


if __name__ == "__main__":
    sys.exit(main())
