"""Smoke test of an installed nacrel, run by scripts/check-wheel in each CPython.

Commits, proves and verifies a sigma proof and a range proof (and refuses each
against another commitment), then prints one line:
OK <python version> <module file> <sha256 of the module file>.
Runs on every interpreter from 3.8 on, so it keeps to 3.8 syntax."""

import hashlib
import sys

import nacrel

gh = nacrel.gen_GH()
r = nacrel.gen_r()
c = nacrel.commit(5, r, gh)
other = nacrel.commit(6, r, gh)
assert nacrel.from_str(c.get).get == c.get
assert nacrel.add(c, other).get == nacrel.commit(11, r.sum(r), gh).get
assert len(nacrel.__all__) == 58 and nacrel.curve_name() == "Bn254"

key = nacrel.gen_pb_sk(gh)
token = key.to_token(r)
proof = nacrel.consistency_proof(5, r, gh, c, token, key.get_pk())
assert nacrel.consistency_proof_verify(proof, gh, c, token, key.get_pk()) is True
assert nacrel.consistency_proof_verify(proof, gh, other, token, key.get_pk()) is False

range_proof = nacrel.range_proof_single(8, 5, gh, r)
assert nacrel.range_proof_single_verify(range_proof, 8, gh, c) is True
assert nacrel.range_proof_single_verify(range_proof, 8, gh, other) is False

try:
    nacrel.from_str("zz")
except Exception:
    raise AssertionError("a decoding failure was caught as Exception")
except BaseException as e:  # noqa: B036 - the panic type derives from BaseException only
    assert type(e).__module__ + "." + type(e).__qualname__ == "pyo3_runtime.PanicException"
else:
    raise AssertionError("from_str('zz') did not fail")

with open(nacrel.__file__, "rb") as f:
    digest = hashlib.sha256(f.read()).hexdigest()
print("OK", "%d.%d.%d" % sys.version_info[:3], nacrel.__file__, digest)
