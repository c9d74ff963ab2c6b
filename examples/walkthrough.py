"""A walk through the protocol: two parties, one confidential transfer.

The sender commits to an amount under the shared generator pair, ties the
commitment's blinding to the receiver's key with a token, and proves that the
amount is in range and that commitment and token agree. Everything crosses
between the parties as text; the receiver checks the proofs from the text
alone and recovers the amount with its secret key.
"""
import nacrel

print("curve:", nacrel.curve_name())

# Shared set-up: the generator pair (g, h) everyone uses.
gh = nacrel.gen_GH()

# The receiver makes a key pair and publishes pk = h*sk as text.
receiver = nacrel.gen_pb_sk(gh)
pk_text = receiver.get_pk()
print("receiver pk:", pk_text)

# --- Sender -----------------------------------------------------------------
amount = 200
r = nacrel.gen_r()
cm = nacrel.commit(amount, r, gh)                 # amount*g + r*h
token = nacrel.to_token_from_pk(pk_text, r)       # pk*r
range_text = nacrel.range_proof_single(8, amount, gh, r)
consistency_text = nacrel.consistency_proof(amount, r, gh, cm, token, pk_text)
message = {"cm": cm.get, "token": token.get, "range": range_text, "consistency": consistency_text}
print("commitment:", message["cm"])
print("range proof: %d bytes of JSON" % len(range_text))

# --- Receiver -----------------------------------------------------------------
cm_in = nacrel.from_str(message["cm"])
token_in = nacrel.to_token_from_str(message["token"])
in_range = nacrel.range_proof_single_verify(message["range"], 8, gh, cm_in)
consistent = nacrel.consistency_proof_verify(message["consistency"], gh, cm_in, token_in, pk_text)
print("range proof verifies:", in_range)
print("consistency proof verifies:", consistent)
assert in_range and consistent

# The receiver strips the blinding with its secret key and searches for the amount.
recovered = nacrel.get_brut_v(cm_in, token_in, gh, receiver, 1000)
print("recovered amount:", recovered)
assert recovered == amount

# A proof for another commitment does not verify against this one.
other = nacrel.commit(amount + 1, r, gh)
assert not nacrel.range_proof_single_verify(message["range"], 8, gh, other)

# Homomorphism: commitments and tokens add up together.
r2 = nacrel.gen_r()
cm2 = nacrel.commit(55, r2, gh)
token2 = receiver.to_token(r2)
total_cm = nacrel.add(cm_in, cm2)
total_token = nacrel.add_token(token_in, token2)
total = nacrel.get_brut_v(total_cm, total_token, gh, receiver, 1000)
print("recovered sum of two amounts:", total)
assert total == amount + 55

# The receiver proves it knows sk with total_token = (h*(r+r2))*sk, without revealing it.
h_sum_r = nacrel.p_to_x(nacrel.from_str(gh.h), r.sum(r2))
proof = nacrel.sigma_dlog_proof_explicit(total_token, receiver, h_sum_r)
print("knowledge-of-key proof verifies:",
      nacrel.sigma_dlog_proof_explicit_verify(proof, h_sum_r, total_token))

# A value outside [0, 2^8) cannot be proven in range: the proof does not verify.
bad = nacrel.range_proof_single(8, 300, gh, r)
print("range proof of 300 in 8 bits verifies:",
      nacrel.range_proof_single_verify(bad, 8, gh, nacrel.commit(300, r, gh)))
print("walk-through complete")
