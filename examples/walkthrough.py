"""A walk through the commitment protocol with nacrel.

Two parties share the generator pair (g, h). The sender commits to values,
the commitments add up homomorphically, and a key holder who receives the
tokens of the blindings recovers the committed total by a short search.
"""

import nacrel


def main():
    print("curve:", nacrel.curve_name())

    # The fixed generator pair: h is the standard generator, g a hashed point.
    gh = nacrel.gen_GH()
    print("g =", gh.g)
    print("h =", gh.h)

    # Commitments val*g + r*h under fresh random blindings.
    r1, r2 = nacrel.gen_r(), nacrel.gen_r()
    c1 = nacrel.commit(30, r1, gh)
    c2 = nacrel.commit(12, r2, gh)
    print("commit(30) =", c1.get)
    print("commit(12) =", c2.get)

    # Homomorphic arithmetic: the sum commits to 42 under r1 + r2.
    total = nacrel.add(c1, c2)
    assert total.get == nacrel.commit(42, r1.sum(r2), gh).get
    diff = nacrel.sub(c1, c2)
    assert diff.get == nacrel.commit(18, r1.sub(r2), gh).get
    print("commit(30) + commit(12) == commit(42, r1 + r2): ok")

    # Commitments travel as text and read back to the same point.
    received = nacrel.from_str(total.get)
    assert received.get == total.get
    assert nacrel.add_value_commits(c1.get, c2.get) == total.get

    # A key holder: secret sk, public pk = h*sk. Tokens pk*r tie each
    # blinding to the key holder; they add up like the commitments.
    keys = nacrel.gen_pb_sk(gh)
    print("pk =", keys.get_pk())
    t1 = nacrel.to_token_from_pk(keys.get_pk(), r1)
    t2 = keys.to_token(r2)
    tokens = nacrel.add_token(t1, t2)
    print("token of r1 + r2 =", tokens.get)

    # With the commitment, the token and the secret, the value comes back.
    value = nacrel.get_brut_v(total, tokens, gh, keys, 100)
    print("recovered value:", value)
    assert value == 42


if __name__ == "__main__":
    main()
