"""Sigma proofs through the Python API: round trips, hash separation, tampering,
reading errors, asserted preconditions and proofs checked in another process."""
import hashlib
import json
import os
import subprocess
import sys
import textwrap

import pytest

import nacrel

UNWRAP = "called `Result::unwrap()` on an `Err` value: "
ZERO_SCALAR = "0" * 64
IDENTITY = "40" + "0" * 62


def panic_message(fn, *args):
    """Message of the PanicException that fn(*args) raises."""
    try:
        fn(*args)
    except Exception as e:  # a PanicException must not land here
        pytest.fail("ordinary exception instead of PanicException: %r" % (e,))
    except BaseException as e:
        assert type(e).__name__ == "PanicException"
        assert type(e).__module__ == "pyo3_runtime"
        assert len(e.args) == 1
        return e.args[0]
    pytest.fail("no exception raised")


def scalar_text(n):
    return "%064x" % n


def point_plus_generator(text):
    """The point text of P + G, for tampering with a point member."""
    return nacrel.add(nacrel.from_str(text), nacrel.from_str("0" * 63 + "1")).get


def tamper(proof_text, member):
    """Changes one member of a proof object: points move by G, scalars by 1."""
    obj = json.loads(proof_text)
    value = obj[member]
    if "point" in value:
        value["point"] = point_plus_generator(value["point"])
    else:
        r = 0x30644E72E131A029B85045B68181585D2833E84879B9709143E1F593F0000001
        value["scalar"] = scalar_text((int(value["scalar"], 16) + 1) % r)
    return json.dumps(obj)


@pytest.fixture
def keyed():
    """A generator pair, a key pair, a commitment point h_sumR and its token."""
    gh = nacrel.gen_GH()
    pbsk = nacrel.gen_pb_sk(gh)
    h_sum_r = nacrel.commit(17, nacrel.gen_r(), gh)
    sk = nacrel.to_scalar_from_str(pbsk.get_sk())
    sum_tokens = nacrel.to_token_from_str(nacrel.p_to_x(h_sum_r, sk).get)
    return gh, pbsk, h_sum_r, sum_tokens


def other_gh():
    gh = nacrel.gen_GH()
    g = nacrel.g_to_x(gh, 5)
    h = nacrel.g_to_x(gh, 7)
    return nacrel.gen_new_GH(g, h)


# ------------------------------------------------------------ explicit dlog

EXPLICIT = [
    (nacrel.sigma_dlog_proof_explicit, nacrel.sigma_dlog_proof_explicit_verify,
     nacrel.sigma_dlog_proof_explicit_verify_sha256),
    (nacrel.sigma_dlog_proof_explicit_sha256, nacrel.sigma_dlog_proof_explicit_verify_sha256,
     nacrel.sigma_dlog_proof_explicit_verify),
    (nacrel.sigma_dlog_proof_explicit_sha256_with_witness, nacrel.sigma_dlog_proof_explicit_verify_sha256,
     nacrel.sigma_dlog_proof_explicit_verify),
]


@pytest.mark.parametrize("prove,verify,other_hash", EXPLICIT)
def test_explicit_round_trip_and_hash_separation(keyed, prove, verify, other_hash):
    gh, pbsk, h_sum_r, sum_tokens = keyed
    text = prove(sum_tokens, pbsk, h_sum_r)
    assert verify(text, h_sum_r, sum_tokens) is True
    assert other_hash(text, h_sum_r, sum_tokens) is False
    # another expected pk, another base
    assert verify(text, h_sum_r, nacrel.to_token_from_str(h_sum_r.get)) is False
    assert verify(text, nacrel.commit(18, nacrel.gen_r(), gh), sum_tokens) is False


def test_explicit_layout_and_fresh_nonces(keyed):
    gh, pbsk, h_sum_r, sum_tokens = keyed
    a = nacrel.sigma_dlog_proof_explicit(sum_tokens, pbsk, h_sum_r)
    b = nacrel.sigma_dlog_proof_explicit(sum_tokens, pbsk, h_sum_r)
    oa, ob = json.loads(a), json.loads(b)
    assert list(oa) == ["pk", "pk_t_rand_commitment", "challenge_response"]
    assert a == json.dumps(oa, indent=2)  # two-space pretty layout, no final newline
    assert oa["pk"] == {"curve": "bn254", "point": sum_tokens.get}
    assert oa["pk"] == ob["pk"]
    assert oa["pk_t_rand_commitment"] != ob["pk_t_rand_commitment"]
    assert oa["challenge_response"] != ob["challenge_response"]


def test_explicit_witness_members_and_relation(keyed):
    gh, pbsk, h_sum_r, sum_tokens = keyed
    text = nacrel.sigma_dlog_proof_explicit_sha256_with_witness(sum_tokens, pbsk, h_sum_r)
    obj = json.loads(text)
    assert list(obj) == ["challenge_response", "challengepk", "chalrsph2r", "pk", "pk_t_rand_commitment"]
    assert text == json.dumps(obj, indent=2)
    total = nacrel.add_value_commits(obj["chalrsph2r"]["point"], obj["challengepk"]["point"])
    assert total == obj["pk_t_rand_commitment"]["point"]


def test_explicit_prover_ignores_the_token_and_verifier_catches_it(keyed):
    gh, pbsk, h_sum_r, sum_tokens = keyed
    wrong = nacrel.to_token_from_str(h_sum_r.get)
    text = nacrel.sigma_dlog_proof_explicit(wrong, pbsk, h_sum_r)
    assert nacrel.sigma_dlog_proof_explicit_verify(text, h_sum_r, wrong) is False
    assert nacrel.sigma_dlog_proof_explicit_verify(text, h_sum_r, sum_tokens) is True


@pytest.mark.parametrize("member", ["pk", "pk_t_rand_commitment", "challenge_response"])
def test_explicit_tampering(keyed, member):
    gh, pbsk, h_sum_r, sum_tokens = keyed
    text = nacrel.sigma_dlog_proof_explicit_sha256(sum_tokens, pbsk, h_sum_r)
    assert nacrel.sigma_dlog_proof_explicit_verify_sha256(tamper(text, member), h_sum_r, sum_tokens) is False


def test_explicit_reordered_and_array_forms(keyed):
    gh, pbsk, h_sum_r, sum_tokens = keyed
    obj = json.loads(nacrel.sigma_dlog_proof_explicit(sum_tokens, pbsk, h_sum_r))
    forms = [
        json.dumps({k: obj[k] for k in reversed(list(obj))}),
        json.dumps(dict(obj, extra=[1, {"x": None}])),
        json.dumps([obj["pk"], obj["pk_t_rand_commitment"], obj["challenge_response"]]),
        json.dumps([[v["curve"], v.get("point", v.get("scalar"))] for v in obj.values()]),
    ]
    for form in forms:
        assert nacrel.sigma_dlog_proof_explicit_verify(form, h_sum_r, sum_tokens) is True, form


READ_ERRORS = [
    ("{}", "missing field `pk`"),
    ('{"pk": {"curve": "bn254", "point": "%s"}}' % IDENTITY, "missing field `pk_t_rand_commitment`"),
    ('{"pk": {"curve": "bn254", "point": "%s"}, "pk": 1}' % IDENTITY, "duplicate field `pk`"),
    ("[]", "invalid length 0, expected struct DLogProofExplicit with 3 elements"),
    ('[{"curve": "bn254", "point": "%s"}]' % IDENTITY,
     "invalid length 1, expected struct DLogProofExplicit with 3 elements"),
    ('{"pk": {"curve": "bn254", "point": "123"}}', "invalid point"),
    ('{"pk": {"curve": "bn254", "point": "%s"}}' % ("0" * 64), "invalid point: failed to deserialize the point"),
    ('{"pk": {"curve": "bn254", "point": "%s"}}' % ("g" * 64), "malformed hex encoding"),
    ('{"pk": {"curve": "BN254", "point": "%s"}}' % IDENTITY, "belongs to BN254 curve, expected bn254 curve"),
    # a NUL quoted from the text neither ends the message nor drops the position
    ('{"pk": {"curve": "a\\u0000b", "point": "%s"}}' % IDENTITY, "belongs to a\x00b curve, expected bn254 curve"),
]


@pytest.mark.parametrize("text,message", READ_ERRORS)
@pytest.mark.parametrize("verify", [nacrel.sigma_dlog_proof_explicit_verify,
                                    nacrel.sigma_dlog_proof_explicit_verify_sha256])
def test_explicit_reading_errors(keyed, verify, text, message):
    gh, pbsk, h_sum_r, sum_tokens = keyed
    got = panic_message(verify, text, h_sum_r, sum_tokens)
    assert got.startswith(UNWRAP + message + " at line "), got
    assert " column " in got


def test_explicit_trailing_characters_and_syntax(keyed):
    gh, pbsk, h_sum_r, sum_tokens = keyed
    text = nacrel.sigma_dlog_proof_explicit(sum_tokens, pbsk, h_sum_r)
    got = panic_message(nacrel.sigma_dlog_proof_explicit_verify, text + " x", h_sum_r, sum_tokens)
    assert got.startswith(UNWRAP + "trailing characters at line "), got
    assert panic_message(nacrel.sigma_dlog_proof_explicit_verify, text[:-1], h_sum_r, sum_tokens).startswith(UNWRAP)
    # whitespace after the value is fine
    assert nacrel.sigma_dlog_proof_explicit_verify(text + "\n ", h_sum_r, sum_tokens) is True


# -------------------------------------------------------- dlog equality

EQ_KEY = [
    (nacrel.sigma_eq_dlog_proof, nacrel.sigma_eq_dlog_verify, nacrel.sigma_eq_dlog_verify_sha256),
    (nacrel.sigma_eq_dlog_proof_sha256, nacrel.sigma_eq_dlog_verify_sha256, nacrel.sigma_eq_dlog_verify),
]

EQ_MEMBERS = ["pk_l", "pk_r", "pk_t_rand_commitment_l", "pk_t_rand_commitment_r", "challenge_response_l",
              "challenge_response_r", "challenge"]


@pytest.mark.parametrize("prove,verify,other_hash", EQ_KEY)
def test_eq_dlog_key_round_trip_and_hash_separation(keyed, prove, verify, other_hash):
    gh, pbsk, h_sum_r, sum_tokens = keyed
    text = prove(sum_tokens, pbsk, gh, h_sum_r)
    obj = json.loads(text)
    assert list(obj) == EQ_MEMBERS
    assert text == json.dumps(obj, indent=2)
    assert obj["pk_l"]["point"] == sum_tokens.get
    assert obj["pk_r"]["point"] == pbsk.get_pk()
    assert obj["challenge_response_l"] == obj["challenge_response_r"]
    assert verify(text, gh, h_sum_r, sum_tokens) is True
    assert other_hash(text, gh, h_sum_r, sum_tokens) is False
    assert verify(text, other_gh(), h_sum_r, sum_tokens) is False


@pytest.mark.parametrize("prove,verify,other_hash", EQ_KEY)
def test_eq_dlog_key_token_mismatch_raises(keyed, prove, verify, other_hash):
    gh, pbsk, h_sum_r, sum_tokens = keyed
    wrong = nacrel.to_token_from_str(h_sum_r.get)
    assert panic_message(prove, wrong, pbsk, gh, h_sum_r) == "assertion failed: false"
    text = prove(sum_tokens, pbsk, gh, h_sum_r)
    assert panic_message(verify, text, gh, h_sum_r, wrong) == "assertion failed: false"


@pytest.mark.parametrize("member", EQ_MEMBERS)
def test_eq_dlog_same_secret_tampering(member):
    gh1, gh2 = nacrel.gen_GH(), other_gh()
    text = nacrel.sigma_eq_dlog_same_secret(-12345, gh1, gh2)
    assert nacrel.sigma_eq_dlog_verify_same_secret(text, gh1, gh2) is True
    assert nacrel.sigma_eq_dlog_verify_same_secret(tamper(text, member), gh1, gh2) is False


def test_eq_dlog_same_secret_bases_and_values():
    gh1, gh2 = nacrel.gen_GH(), other_gh()
    obj = json.loads(nacrel.sigma_eq_dlog_same_secret(3, gh1, gh2))
    assert obj["pk_l"]["point"] == nacrel.g_to_x(gh1, 3).get
    assert obj["pk_r"]["point"] == nacrel.g_to_x(gh2, 3).get
    text = json.dumps(obj)
    assert nacrel.sigma_eq_dlog_verify_same_secret(text, gh2, gh1) is False
    # equal bases: proved normally, never verified
    same = nacrel.gen_new_GH(nacrel.from_str(gh1.g), nacrel.from_str(gh2.h))
    text = nacrel.sigma_eq_dlog_same_secret(3, gh1, same)
    assert nacrel.sigma_eq_dlog_verify_same_secret(text, gh1, same) is False


R_ORDER = 0x30644E72E131A029B85045B68181585D2833E84879B9709143E1F593F0000001


def hand_made_same_secret_proof(gh1, gh2, x, y, k1, k2):
    """A DLogEqProof built outside the module: pk_l = g1*x, pk_r = g2*y, nonces k1, k2."""
    g1, g2 = nacrel.from_str(gh1.g), nacrel.from_str(gh2.g)
    a_l, a_r = nacrel.g_to_x(gh1, k1), nacrel.g_to_x(gh2, k2)
    pk_l, pk_r = nacrel.g_to_x(gh1, x), nacrel.g_to_x(gh2, y)
    data = b"".join(bytes(p.to_bytes()) for p in [a_l, a_r, g1, g2, pk_l, pk_r]) + bytes(4)
    c = int.from_bytes(hashlib.sha256(data).digest(), "big") % R_ORDER

    def point(p):
        return {"curve": "bn254", "point": p.get}

    def scalar(n):
        return {"curve": "bn254", "scalar": scalar_text(n % R_ORDER)}

    return json.dumps({"pk_l": point(pk_l), "pk_r": point(pk_r), "pk_t_rand_commitment_l": point(a_l),
                       "pk_t_rand_commitment_r": point(a_r), "challenge_response_l": scalar(k1 - c * x),
                       "challenge_response_r": scalar(k2 - c * y), "challenge": scalar(c)})


def test_eq_dlog_two_secrets_with_two_responses_are_rejected():
    gh1, gh2 = nacrel.gen_GH(), other_gh()
    # the same construction with one secret and one nonce is an ordinary valid proof
    assert nacrel.sigma_eq_dlog_verify_same_secret(hand_made_same_secret_proof(gh1, gh2, 10, 10, 99, 99), gh1,
                                                   gh2) is True
    # different secrets: each equation holds on its own, but nothing shows equal logarithms
    forged = hand_made_same_secret_proof(gh1, gh2, 10, 11, 99, 98)
    assert nacrel.sigma_eq_dlog_verify_same_secret(forged, gh1, gh2) is False


def test_eq_dlog_array_form_and_errors(keyed):
    gh, pbsk, h_sum_r, sum_tokens = keyed
    obj = json.loads(nacrel.sigma_eq_dlog_proof(sum_tokens, pbsk, gh, h_sum_r))
    assert nacrel.sigma_eq_dlog_verify(json.dumps(list(obj.values())), gh, h_sum_r, sum_tokens) is True
    got = panic_message(nacrel.sigma_eq_dlog_verify, json.dumps(list(obj.values())[:6]), gh, h_sum_r, sum_tokens)
    assert got.startswith(UNWRAP + "invalid length 6, expected struct DLogEqProof with 7 elements at line ")
    got = panic_message(nacrel.sigma_eq_dlog_verify_same_secret, "{}", gh, gh)
    assert got.startswith(UNWRAP + "missing field `pk_l` at line ")


# -------------------------------------------------- Pedersen equality

PED_MEMBERS = ["cm1", "cm2", "cm3", "token", "r1", "r2", "challenge", "challenge_response_D",
               "challenge_response_D1", "challenge_response_D2"]


def test_ped_round_trip_relations_and_layout():
    gh1, gh2 = nacrel.gen_GH(), other_gh()
    pbsk = nacrel.gen_pb_sk(gh1)
    text = nacrel.sigma_eq_dlog_ped_proof(-1, gh1, gh2, pbsk.get_pk())
    obj = json.loads(text)
    assert list(obj) == PED_MEMBERS
    assert text == json.dumps(obj, indent=2)
    assert obj["cm1"] == obj["cm3"]
    r1 = nacrel.to_scalar_from_str(obj["r1"]["scalar"])
    assert obj["token"]["point"] == pbsk.to_token(r1).get
    # v = -1: the square is 1, so cm1 = g + h*r1
    assert obj["cm1"]["point"] == nacrel.commit(1, r1, gh1).get
    r2 = nacrel.to_scalar_from_str(obj["r2"]["scalar"])
    assert obj["cm2"]["point"] == nacrel.commit(-1, r2, gh1).get
    assert nacrel.sigma_eq_dlog_ped_verify(text, gh1, gh2) is True
    # gh2 takes no part; gh1 does
    assert nacrel.sigma_eq_dlog_ped_verify(text, gh1, gh1) is True
    assert nacrel.sigma_eq_dlog_ped_verify(text, gh2, gh1) is False


@pytest.mark.parametrize("member,still_true", [(m, m in ("cm1", "token", "r1", "r2")) for m in PED_MEMBERS])
def test_ped_tampering(member, still_true):
    gh = nacrel.gen_GH()
    text = nacrel.sigma_eq_dlog_ped_proof(99, gh, gh, nacrel.gen_pb_sk(gh).get_pk())
    assert nacrel.sigma_eq_dlog_ped_verify(tamper(text, member), gh, gh) is still_true


def test_ped_with_witness():
    gh = nacrel.gen_GH()
    text = nacrel.sigma_eq_dlog_ped_proof_with_witness(7, gh, gh, nacrel.gen_pb_sk(gh).get_pk())
    obj = json.loads(text)
    assert list(obj) == sorted(PED_MEMBERS + ["chalRspDg", "chalRspD1h", "challengecm2", "chalRspDcm2",
                                              "chalRspD2h", "challengecm3"])
    assert list(obj)[:4] == ["chalRspD1h", "chalRspD2h", "chalRspDcm2", "chalRspDg"]
    assert text == json.dumps(obj, indent=2)
    assert nacrel.sigma_eq_dlog_ped_verify(text, gh, gh) is True
    d = nacrel.to_scalar_from_str(obj["challenge_response_D"]["scalar"])
    assert obj["chalRspDg"]["point"] == nacrel.p_to_x(nacrel.from_str(gh.g), d).get


def test_ped_bad_pk_and_bad_text():
    gh = nacrel.gen_GH()
    got = panic_message(nacrel.sigma_eq_dlog_ped_proof, 1, gh, gh, "zz")
    assert got.startswith(UNWRAP + "invalid point at line ")
    got = panic_message(nacrel.sigma_eq_dlog_ped_proof_with_witness, 1, gh, gh, '{"curve":"bn254"}')
    assert got.startswith(UNWRAP)
    got = panic_message(nacrel.sigma_eq_dlog_ped_verify, "[1]", gh, gh)
    assert got.startswith(UNWRAP), got
    got = panic_message(nacrel.sigma_eq_dlog_ped_verify, "[]", gh, gh)
    assert got.startswith(UNWRAP + "invalid length 0, expected struct DLogEqProofPed with 10 elements at line ")


# ------------------------------------------------------- consistency

CONS_MEMBERS = ["t1", "t2", "s1", "s2", "challenge"]


@pytest.fixture
def consistent():
    gh = nacrel.gen_GH()
    pbsk = nacrel.gen_pb_sk(gh)
    r = nacrel.gen_r()
    cm = nacrel.commit(-500, r, gh)
    token = nacrel.to_token_from_pk(pbsk.get_pk(), r)
    return gh, pbsk, r, cm, token


def test_consistency_round_trip_and_layout(consistent):
    gh, pbsk, r, cm, token = consistent
    text = nacrel.consistency_proof(-500, r, gh, cm, token, pbsk.get_pk())
    obj = json.loads(text)
    assert list(obj) == CONS_MEMBERS
    assert text == json.dumps(obj, indent=2)
    assert nacrel.consistency_proof_verify(text, gh, cm, token, pbsk.get_pk()) is True
    other = nacrel.gen_pb_sk(gh)
    assert nacrel.consistency_proof_verify(text, gh, cm, token, other.get_pk()) is False
    assert nacrel.consistency_proof_verify(text, gh, cm, other.to_token(r), pbsk.get_pk()) is False
    assert nacrel.consistency_proof_verify(text, gh, nacrel.commit(-499, r, gh), token, pbsk.get_pk()) is False
    assert nacrel.consistency_proof_verify(text, other_gh(), cm, token, pbsk.get_pk()) is False


@pytest.mark.parametrize("member", CONS_MEMBERS)
def test_consistency_tampering(consistent, member):
    gh, pbsk, r, cm, token = consistent
    text = nacrel.consistency_proof(-500, r, gh, cm, token, pbsk.get_pk())
    assert nacrel.consistency_proof_verify(tamper(text, member), gh, cm, token, pbsk.get_pk()) is False


def test_consistency_prover_asserts_the_commitment_only(consistent):
    gh, pbsk, r, cm, token = consistent
    for val, rr in [(-499, r), (-500, nacrel.gen_r()), (500, r)]:
        assert panic_message(nacrel.consistency_proof, val, rr, gh, cm, token, pbsk.get_pk()) == \
            "assertion failed: false"
        assert panic_message(nacrel.consistency_proof_with_witness, val, rr, gh, cm, token, pbsk.get_pk()) == \
            "assertion failed: false"
    # a token with another blinding still gets a proof, which does not verify
    wrong = pbsk.to_token(nacrel.gen_r())
    text = nacrel.consistency_proof(-500, r, gh, cm, wrong, pbsk.get_pk())
    assert nacrel.consistency_proof_verify(text, gh, cm, wrong, pbsk.get_pk()) is False


def test_consistency_with_witness(consistent):
    gh, pbsk, r, cm, token = consistent
    text = nacrel.consistency_proof_with_witness(-500, r, gh, cm, token, pbsk.get_pk())
    obj = json.loads(text)
    assert list(obj) == ["chalcm", "challenge", "chaltk", "s1", "s1g", "s2", "s2h", "s2pubkey", "t1", "t2"]
    assert text == json.dumps(obj, indent=2)
    assert nacrel.consistency_proof_verify(text, gh, cm, token, pbsk.get_pk()) is True
    p = {k: v["point"] for k, v in obj.items() if "point" in v}
    t1 = nacrel.sub_value_commits(nacrel.add_value_commits(p["s1g"], p["s2h"]), p["chalcm"])
    assert t1 == p["t1"]
    assert nacrel.sub_value_commits(p["s2pubkey"], p["chaltk"]) == p["t2"]


def test_consistency_bad_pubkey_and_text(consistent):
    gh, pbsk, r, cm, token = consistent
    got = panic_message(nacrel.consistency_proof, -500, r, gh, cm, token, pbsk.get_pk()[:-1])
    assert got.startswith(UNWRAP + "invalid point at line ")
    text = nacrel.consistency_proof(-500, r, gh, cm, token, pbsk.get_pk())
    got = panic_message(nacrel.consistency_proof_verify, text, gh, cm, token, "x" * 64)
    assert got.startswith(UNWRAP + "malformed hex encoding at line ")
    got = panic_message(nacrel.consistency_proof_verify, "[]", gh, cm, token, pbsk.get_pk())
    assert got.startswith(UNWRAP + "invalid length 0, expected struct ConsistencyProof with 5 elements at line ")
    got = panic_message(nacrel.consistency_proof_verify, json.dumps(dict(json.loads(text), t2=None)), gh, cm,
                        token, pbsk.get_pk())
    assert got.startswith(UNWRAP + "invalid type: null, expected point of bn254 curve at line "), got


# --------------------------------------------------------- argument binding

def test_argument_errors():
    gh = nacrel.gen_GH()
    with pytest.raises(TypeError, match=r"^argument 'pbsk': 'GH' object cannot be converted to 'PbSk'$"):
        nacrel.sigma_dlog_proof_explicit(nacrel.to_token_from_str(gh.h), gh, nacrel.from_str(gh.h))
    with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
        nacrel.sigma_eq_dlog_same_secret(2 ** 31, gh, gh)
    with pytest.raises(TypeError, match=r"^argument 'pubkey': 'bytes' object cannot be converted to 'PyString'$"):
        nacrel.consistency_proof_verify("{}", gh, nacrel.from_str(gh.h), nacrel.to_token_from_str(gh.h), b"")
    with pytest.raises(TypeError, match=r"^sigma_eq_dlog_ped_verify\(\) missing 2 required positional arguments: "
                                        r"'gh1' and 'gh2'$"):
        nacrel.sigma_eq_dlog_ped_verify("{}")
    assert nacrel.sigma_eq_dlog_verify_same_secret(
        ser_dlog_eq_proof=nacrel.sigma_eq_dlog_same_secret(v=-(2 ** 31), gh1=gh, gh2=other_gh()),
        gh1=gh, gh2=other_gh()) is True


# ------------------------------------------- transcripts of the entry points

def transcript_challenge(hash_name, point_texts):
    """(first 32 bytes of HASH(enc(P1) || ... || enc(Pn) || 00000000)) mod r, enc = 64 bytes y then x."""
    data = b"".join(bytes(nacrel.from_str(t).to_bytes()) for t in point_texts) + bytes(4)
    return int.from_bytes(hashlib.new(hash_name, data).digest()[:32], "big") % R_ORDER


def times(point_text, n):
    return nacrel.p_to_x(nacrel.from_str(point_text), nacrel.to_scalar_from_str(scalar_text(n % R_ORDER))).get


def test_each_entry_point_hashes_its_own_transcript_with_its_own_hash(keyed):
    # Round trips alone cannot tell which hash a prover/verifier pair uses, nor
    # the order of its points; recompute every challenge from the proof text.
    gh, pbsk, h_sum_r, sum_tokens = keyed
    pt = lambda o, k: o[k]["point"]
    sc = lambda o, k: int(o[k]["scalar"], 16)
    for prove, hash_name in [(nacrel.sigma_dlog_proof_explicit, "sha512"),
                             (nacrel.sigma_dlog_proof_explicit_sha256, "sha256"),
                             (nacrel.sigma_dlog_proof_explicit_sha256_with_witness, "sha256")]:
        o = json.loads(prove(sum_tokens, pbsk, h_sum_r))
        c = transcript_challenge(hash_name, [pt(o, "pk_t_rand_commitment"), h_sum_r.get, pt(o, "pk")])
        lhs = nacrel.add_value_commits(times(h_sum_r.get, sc(o, "challenge_response")), times(pt(o, "pk"), c))
        assert lhs == pt(o, "pk_t_rand_commitment"), prove.__name__
        if "challengepk" in o:
            assert pt(o, "challengepk") == times(pt(o, "pk"), c)
    eq_members = ["pk_t_rand_commitment_l", "pk_t_rand_commitment_r", "pk_l", "pk_r"]
    gh2 = other_gh()
    for text, bases, hash_name in [
            (nacrel.sigma_eq_dlog_proof(sum_tokens, pbsk, gh, h_sum_r), [h_sum_r.get, gh.h], "sha512"),
            (nacrel.sigma_eq_dlog_proof_sha256(sum_tokens, pbsk, gh, h_sum_r), [h_sum_r.get, gh.h], "sha256"),
            (nacrel.sigma_eq_dlog_same_secret(9, gh, gh2), [gh.g, gh2.g], "sha256")]:
        o = json.loads(text)
        a_l, a_r, pk_l, pk_r = [pt(o, k) for k in eq_members]
        assert sc(o, "challenge") == transcript_challenge(hash_name, [a_l, a_r] + bases + [pk_l, pk_r])
    # Pedersen equality: only the two nonce commitments, rebuilt from the witness
    o = json.loads(nacrel.sigma_eq_dlog_ped_proof_with_witness(9, gh, gh2, pbsk.get_pk()))
    a1 = nacrel.sub_value_commits(nacrel.add_value_commits(pt(o, "chalRspDg"), pt(o, "chalRspD1h")),
                                  pt(o, "challengecm2"))
    a2 = nacrel.sub_value_commits(nacrel.add_value_commits(pt(o, "chalRspDcm2"), pt(o, "chalRspD2h")),
                                  pt(o, "challengecm3"))
    assert pt(o, "challengecm3") == times(pt(o, "cm3"), sc(o, "challenge"))
    assert sc(o, "challenge") == transcript_challenge("sha256", [a1, a2])
    # consistency: g, h, t1, t2, pk, cm, token
    r = nacrel.gen_r()
    cm = nacrel.commit(17, r, gh)
    token = nacrel.to_token_from_pk(pbsk.get_pk(), r)
    o = json.loads(nacrel.consistency_proof(17, r, gh, cm, token, pbsk.get_pk()))
    assert sc(o, "challenge") == transcript_challenge(
        "sha256", [gh.g, gh.h, pt(o, "t1"), pt(o, "t2"), pbsk.get_pk(), cm.get, token.get])


# ------------------------------------------------------------ cross process

MAKER = textwrap.dedent("""
    import json, nacrel
    gh = nacrel.gen_GH()
    pbsk = nacrel.gen_pb_sk(gh)
    r = nacrel.gen_r()
    cm = nacrel.commit(1234, r, gh)
    token = pbsk.to_token(r)
    sk = nacrel.to_scalar_from_str(pbsk.get_sk())
    sum_tokens = nacrel.to_token_from_str(nacrel.p_to_x(cm, sk).get)
    gh2 = nacrel.gen_new_GH(nacrel.g_to_x(gh, 5), nacrel.g_to_x(gh, 7))
    print(json.dumps({
        "g": gh.g, "h": gh.h, "g2": gh2.g, "h2": gh2.h, "pk": pbsk.get_pk(), "cm": cm.get,
        "token": token.get, "sum_tokens": sum_tokens.get,
        "explicit512": nacrel.sigma_dlog_proof_explicit(sum_tokens, pbsk, cm),
        "explicit256": nacrel.sigma_dlog_proof_explicit_sha256(sum_tokens, pbsk, cm),
        "eq512": nacrel.sigma_eq_dlog_proof(sum_tokens, pbsk, gh, cm),
        "eq256": nacrel.sigma_eq_dlog_proof_sha256(sum_tokens, pbsk, gh, cm),
        "same": nacrel.sigma_eq_dlog_same_secret(77, gh, gh2),
        "ped": nacrel.sigma_eq_dlog_ped_proof_with_witness(77, gh, gh2, pbsk.get_pk()),
        "cons": nacrel.consistency_proof(1234, r, gh, cm, token, pbsk.get_pk()),
    }))
""")


def test_proofs_made_in_another_process_verify_from_text():
    # The child imports the same module file as this process.
    env = dict(os.environ)
    where = os.path.dirname(os.path.dirname(os.path.abspath(nacrel.__file__)))
    here = os.path.dirname(os.path.abspath(nacrel.__file__))
    env["PYTHONPATH"] = os.pathsep.join([here, where] + [p for p in [env.get("PYTHONPATH")] if p])
    out = subprocess.run([sys.executable, "-c", MAKER], check=True, capture_output=True, text=True,
                         env=env).stdout
    d = json.loads(out)
    gh = nacrel.gen_new_GH(nacrel.from_str(d["g"]), nacrel.from_str(d["h"]))
    gh2 = nacrel.gen_new_GH(nacrel.from_str(d["g2"]), nacrel.from_str(d["h2"]))
    cm = nacrel.from_str(d["cm"])
    token = nacrel.to_token_from_str(d["token"])
    sum_tokens = nacrel.to_token_from_str(d["sum_tokens"])
    assert nacrel.sigma_dlog_proof_explicit_verify(d["explicit512"], cm, sum_tokens) is True
    assert nacrel.sigma_dlog_proof_explicit_verify_sha256(d["explicit256"], cm, sum_tokens) is True
    assert nacrel.sigma_eq_dlog_verify(d["eq512"], gh, cm, sum_tokens) is True
    assert nacrel.sigma_eq_dlog_verify_sha256(d["eq256"], gh, cm, sum_tokens) is True
    assert nacrel.sigma_eq_dlog_verify_same_secret(d["same"], gh, gh2) is True
    assert nacrel.sigma_eq_dlog_ped_verify(d["ped"], gh, gh2) is True
    assert nacrel.consistency_proof_verify(d["cons"], gh, cm, token, d["pk"]) is True
    assert nacrel.sigma_eq_dlog_verify_sha256(d["eq512"], gh, cm, sum_tokens) is False
