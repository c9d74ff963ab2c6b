"""Range-proof entry points: the documented edge cases as tables, proofs
carried between processes as text, tampering, and proofs made by the module
checked step by step by the independent model in rangeproof_ref.py."""

import json
import subprocess
import sys

import pytest

import nacrel
import rangeproof_ref as ref

Panic = BaseException  # PanicException derives from BaseException only
UNWRAP = "called `Result::unwrap()` on an `Err` value: "
POW2 = "assertion failed: n.is_power_of_two()"


@pytest.fixture(scope="module")
def gh():
    return nacrel.gen_GH()


def panic_message(fn, *args):
    with pytest.raises(Panic) as info:
        fn(*args)
    assert type(info.value).__name__ == "PanicException"
    return info.value.args[0]


def prove(n, val, gh):
    r = nacrel.gen_r()
    return nacrel.range_proof_single(n, val, gh, r), nacrel.commit(val, r, gh)


# ---- round trips and wrong statements ----

@pytest.mark.parametrize("n, val, expected", [
    (1, 0, True), (1, 1, True), (1, 2, False), (1, -1, False),
    (8, 0, True), (8, 200, True), (8, 255, True), (8, 256, False), (8, -1, False),
    (16, 0, True), (16, 65535, True), (16, 65536, False),
    (32, 0, True), (32, 2**31 - 1, True), (32, -(2**31), False),
    (64, 0, True), (64, 2**31 - 1, True), (64, -1, False),
])
def test_values_in_and_out_of_range(gh, n, val, expected):
    text, cm = prove(n, val, gh)
    assert nacrel.range_proof_single_verify(text, n, gh, cm) is expected


def test_wrong_statements_answer_false(gh):
    r = nacrel.gen_r()
    text = nacrel.range_proof_single(8, 200, gh, r)
    cm = nacrel.commit(200, r, gh)
    other_gh = nacrel.gen_new_GH(nacrel.from_str(gh.h), nacrel.from_str(gh.g))  # G and H swapped
    assert nacrel.range_proof_single_verify(text, 8, gh, cm) is True
    assert nacrel.range_proof_single_verify(text, 4, gh, cm) is False
    assert nacrel.range_proof_single_verify(text, 8, other_gh, cm) is False
    assert nacrel.range_proof_single_verify(text, 8, gh, nacrel.commit(201, r, gh)) is False
    assert nacrel.range_proof_single_verify(text, 8, gh, nacrel.commit(200, nacrel.gen_r(), gh)) is False
    # A larger n needs more halving steps than the proof carries: a stop, not an answer.
    assert "L and R hold 3 entries, 4 needed" in panic_message(nacrel.range_proof_single_verify, text, 16, gh, cm)


def test_fresh_proofs_differ_and_all_verify(gh):
    r = nacrel.gen_r()
    cm = nacrel.commit(7, r, gh)
    texts = {nacrel.range_proof_single(8, 7, gh, r) for _ in range(3)}
    assert len(texts) == 3
    assert all(nacrel.range_proof_single_verify(t, 8, gh, cm) for t in texts)


def test_one_bit_proof_has_empty_argument(gh):
    text, cm = prove(1, 1, gh)
    ipa = json.loads(text)["inner_product_proof"]
    assert ipa["L"] == [] and ipa["R"] == []
    assert '"L": [],\n    "R": [],' in text
    assert nacrel.range_proof_single_verify(text, 1, gh, cm)


# ---- JSON text ----

def test_proof_text_layout(gh):
    text, _ = prove(4, 9, gh)
    doc = json.loads(text)
    assert list(doc) == ["A", "S", "T1", "T2", "tau_x", "miu", "tx", "inner_product_proof"]
    assert list(doc["inner_product_proof"]) == ["L", "R", "a_tag", "b_tag"]
    assert len(doc["inner_product_proof"]["L"]) == 2
    assert text == json.dumps(doc, indent=2)  # two-space pretty layout, no final newline
    for key in ("A", "S", "T1", "T2"):
        assert list(doc[key]) == ["curve", "point"] and doc[key]["curve"] == "bn254"
    for key in ("tau_x", "miu", "tx"):
        assert list(doc[key]) == ["curve", "scalar"] and len(doc[key]["scalar"]) == 64
    for key in ("a_tag", "b_tag"):
        tag = doc["inner_product_proof"][key]
        assert len(tag) % 2 == 0 and tag == tag.lower()


def test_lenient_reading(gh):
    text, cm = prove(8, 33, gh)
    doc = json.loads(text)
    reordered = dict(reversed(list(doc.items())))
    reordered["comment"] = {"any": ["thing"]}
    as_array = [doc[k] for k in doc][:-1] + [list(doc["inner_product_proof"].values())]
    upper = json.loads(text)
    upper["inner_product_proof"]["a_tag"] = upper["inner_product_proof"]["a_tag"].upper()
    for variant in (json.dumps(doc, separators=(",", ":")), json.dumps(reordered), json.dumps(as_array),
                    json.dumps(upper), "\n  " + text + "\n"):
        assert nacrel.range_proof_single_verify(variant, 8, gh, cm) is True


@pytest.mark.parametrize("edit, message", [
    (lambda d: d.pop("miu"), "missing field `miu`"),
    (lambda d: d["inner_product_proof"].pop("b_tag"), "missing field `b_tag`"),
    (lambda d: d["inner_product_proof"].__setitem__("a_tag", "abc"), "malformed hex encoding"),
    (lambda d: d["inner_product_proof"].__setitem__("a_tag", 5), "bigint"),
    (lambda d: d.__setitem__("tx", {"curve": "bn254", "scalar": "00"}), "expected 64"),
    (lambda d: d["A"].__setitem__("point", "0" * 64), "invalid point: failed to deserialize the point"),
    (lambda d: d["S"].__setitem__("curve", "secp256k1"), "belongs to secp256k1 curve, expected bn254 curve"),
    (lambda d: d.__setitem__("inner_product_proof", [[], []]),
     "expected struct InnerProductArg with 4 elements"),
])
def test_malformed_text_stops_with_unwrap_message(gh, edit, message):
    text, cm = prove(2, 1, gh)
    doc = json.loads(text)
    edit(doc)
    msg = panic_message(nacrel.range_proof_single_verify, json.dumps(doc), 2, gh, cm)
    assert msg.startswith(UNWRAP) and message in msg, msg


@pytest.mark.parametrize("text, message", [
    ("", "EOF"), ("not json", ""), ("[]", "invalid length 0, expected struct RangeProof with 8 elements"),
    ("17", "expected struct RangeProof"),
])
def test_non_proof_texts_stop(gh, text, message):
    msg = panic_message(nacrel.range_proof_single_verify, text, 8, gh, nacrel.commit(1, nacrel.gen_r(), gh))
    assert msg.startswith(UNWRAP) and message in msg, msg


# ---- tampering ----

def _other_point():
    return {"curve": "bn254", "point": "0" * 63 + "1"}


def _bump_scalar(o):
    o["scalar"] = "%064x" % ((int(o["scalar"], 16) + 1) % ref.R)


TAMPER = {
    "A": lambda d: d.__setitem__("A", _other_point()),
    "S": lambda d: d.__setitem__("S", d["A"]),
    "T1": lambda d: d.__setitem__("T1", d["T2"]),
    "T2": lambda d: d.__setitem__("T2", _other_point()),
    "tau_x": lambda d: _bump_scalar(d["tau_x"]),
    "miu": lambda d: _bump_scalar(d["miu"]),
    "tx": lambda d: _bump_scalar(d["tx"]),
    "L[0]": lambda d: d["inner_product_proof"]["L"].__setitem__(0, _other_point()),
    "R[last]": lambda d: d["inner_product_proof"]["R"].__setitem__(-1, d["inner_product_proof"]["L"][-1]),
    "L<->R": lambda d: d["inner_product_proof"].update(L=d["inner_product_proof"]["R"],
                                                        R=d["inner_product_proof"]["L"]),
    "a_tag": lambda d: d["inner_product_proof"].__setitem__("a_tag", "01"),
    "b_tag": lambda d: d["inner_product_proof"].__setitem__("b_tag", "00"),
}


@pytest.fixture(scope="module")
def proof8(gh):
    r = nacrel.gen_r()
    return nacrel.range_proof_single(8, 200, gh, r), nacrel.commit(200, r, gh)


def _model_verify(doc, gh, cm, n):
    g_vec, h_vec = ref.derive_generator_vectors(n)
    return ref.range_verify(ref.parse_proof(doc), g_vec, h_vec, ref.decompress(gh.g), ref.decompress(gh.h),
                            [(int(cm.x), int(cm.y))], n)


def test_independent_model_accepts_module_proof(gh, proof8):
    text, cm = proof8
    assert _model_verify(json.loads(text), gh, cm, 8) is True
    g_vec, h_vec = ref.derive_generator_vectors(8)
    assert [json.loads(nacrel.ghvec(8))[0][i]["point"] for i in range(8)] == [ref.compressed(p).hex() for p in g_vec]


@pytest.mark.parametrize("field", sorted(TAMPER))
def test_tampered_field_fails(gh, proof8, field):
    text, cm = proof8
    doc = json.loads(text)
    TAMPER[field](doc)
    assert nacrel.range_proof_single_verify(json.dumps(doc), 8, gh, cm) is False
    assert _model_verify(doc, gh, cm, 8) is False


def test_extra_argument_entries_are_ignored(gh, proof8):
    text, cm = proof8
    doc = json.loads(text)
    doc["inner_product_proof"]["L"].append(_other_point())
    doc["inner_product_proof"]["R"].append(_other_point())
    assert nacrel.range_proof_single_verify(json.dumps(doc), 8, gh, cm) is True


def test_too_few_argument_entries_stop(gh, proof8):
    text, cm = proof8
    doc = json.loads(text)
    doc["inner_product_proof"]["R"].pop()
    with pytest.raises(Panic):
        nacrel.range_proof_single_verify(json.dumps(doc), 8, gh, cm)


# ---- across processes ----

def test_proof_made_in_another_process(gh):
    r = nacrel.gen_r()
    code = ("import nacrel, sys; r = nacrel.to_scalar_from_str(sys.argv[1]); "
            "sys.stdout.write(nacrel.range_proof_single(16, 40000, nacrel.gen_GH(), r))")
    text = subprocess.run([sys.executable, "-c", code, r.to_string], check=True, capture_output=True,
                          text=True).stdout
    assert nacrel.range_proof_single_verify(text, 16, gh, nacrel.commit(40000, r, gh)) is True
    assert nacrel.range_proof_single_verify(text, 16, gh, nacrel.commit(40001, r, gh)) is False


# ---- bit lengths ----

@pytest.mark.parametrize("n", [0, 3, 6, 12])
def test_bit_length_not_a_power_of_two_stops(gh, n):
    r = nacrel.gen_r()
    assert panic_message(nacrel.range_proof_single, n, 1, gh, r) == POW2
    text, cm = prove(4, 1, gh)
    assert panic_message(nacrel.range_proof_single_verify, text, n, gh, cm) == POW2
    assert panic_message(nacrel.range_proof_test, n, 1) == POW2


@pytest.mark.parametrize("n", [2**16 + 1, 2**31, 2**64 - 1])
def test_huge_bit_length_stops_at_once(gh, n):
    text, cm = prove(1, 0, gh)
    expected = "n_bit %d exceeds the supported maximum of 65536 bits" % n
    assert panic_message(nacrel.ghvec, n) == expected
    assert panic_message(nacrel.range_proof_single, n, 1, gh, nacrel.gen_r()) == expected
    assert panic_message(nacrel.range_proof_single_verify, text, n, gh, cm) == expected
    assert panic_message(nacrel.range_proof_test, n, 1) == expected


@pytest.mark.parametrize("call", [
    lambda: nacrel.ghvec(-1), lambda: nacrel.ghvec(2**64),
    lambda: nacrel.range_proof_test(8, 2**31),
])
def test_integer_conversions(call):
    with pytest.raises(OverflowError):
        call()


def test_argument_errors(gh):
    cm = nacrel.commit(1, nacrel.gen_r(), gh)
    with pytest.raises(TypeError, match="argument 'range_proof': 'bytes' object cannot be converted to 'PyString'"):
        nacrel.range_proof_single_verify(b"{}", 8, gh, cm)
    with pytest.raises(TypeError, match="argument 'ped_cm': 'GH' object cannot be converted to 'Commit'"):
        nacrel.range_proof_single_verify("{}", 8, gh, gh)
    with pytest.raises(TypeError, match=r"range_proof_single\(\) missing 1 required positional argument: 'r'"):
        nacrel.range_proof_single(8, 1, gh)
    text = nacrel.range_proof_single(r=nacrel.gen_r(), gh=gh, val=3, n_bit=2)
    assert json.loads(text)["inner_product_proof"]["L"]


# ---- self-test and generator vectors ----

def test_range_proof_test_prints_and_returns(capfd):
    capfd.readouterr()
    assert nacrel.range_proof_test(64, 5) == "64"
    lines = capfd.readouterr().out.split("\n")
    assert len(lines) == 4 and lines[3] == ""
    assert lines[0].startswith('[Bn254Point { purpose: "scalar_mul", ge: (') and lines[0].endswith(") }]")
    assert lines[1:3] == ["results", "true"]


def test_range_proof_test_out_of_range(capfd):
    capfd.readouterr()
    assert panic_message(nacrel.range_proof_test, 8, 256) == "assertion failed: result.is_ok()"
    assert capfd.readouterr().out.split("\n")[1:] == ["results", "false", ""]


def test_ghvec_text():
    assert nacrel.ghvec(0) == "[[],[]]"
    text = nacrel.ghvec(2)
    g, h = json.loads(text)
    assert text == "[" + json.dumps(g, indent=2) + "," + json.dumps(h, indent=2) + "]"
    g_model, h_model = ref.derive_generator_vectors(2)
    assert [o["point"] for o in g] == [ref.compressed(p).hex() for p in g_model]
    assert [o["point"] for o in h] == [ref.compressed(p).hex() for p in h_model]
    g8, _ = json.loads(nacrel.ghvec(8))
    assert g8[0] == g[0] == json.loads(nacrel.ghvec(1))[0][0]
    assert g8[2:4] == h  # h for n = 2 continues the labels at label + 2
    assert len(json.loads(nacrel.ghvec(3))[1]) == 3  # any n is accepted
