#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz harnesses to fuzz/corpus/<harness>/.

Run with an interpreter that has nacrel installed (for example
.venv/bin/python fuzz/make_corpus.py). Proof texts come from the Python API,
so they are real proofs; the proofs carry fresh nonces, so every run writes
different but equivalent seeds. Hand-written edge cases sit beside them.
"""
import json
import pathlib
import shutil

import nacrel

P = 0x30644E72E131A029B85045B68181585D97816A916871CA8D3C208C16D87CFD47
R = 0x30644E72E131A029B85045B68181585D2833E84879B9709143E1F593F0000001
HALF = (P + 1) // 2  # 1/2 mod p

root = pathlib.Path(__file__).resolve().parent / "corpus"


def scalar_text(n):
    return "%064x" % n


def point_obj(hex_text):
    return {"curve": "bn254", "point": hex_text}


def scalar_obj(hex_text):
    return {"curve": "bn254", "scalar": hex_text}


def as_arrays(value):
    """The array form of a record: fields in order, points and scalars as [curve, value]."""
    if isinstance(value, dict) and set(value) in ({"curve", "point"}, {"curve", "scalar"}):
        return [value["curve"], value.get("point", value.get("scalar"))]
    if isinstance(value, dict):
        return [as_arrays(v) for v in value.values()]
    if isinstance(value, list):
        return [as_arrays(v) for v in value]
    return value


def variants(text):
    """A pretty proof text, its compact form and its array form."""
    obj = json.loads(text)
    return [text, json.dumps(obj, separators=(",", ":")), json.dumps(as_arrays(obj))]


def main():
    shutil.rmtree(root, ignore_errors=True)
    seeds = {}

    def add(harness, name, data):
        seeds.setdefault(harness, {})[name] = data.encode() if isinstance(data, str) else bytes(data)

    gh = nacrel.gen_GH()
    r7 = nacrel.to_scalar_from_str(scalar_text(7))
    cm = nacrel.commit(1, r7, gh)
    pbsk = nacrel.regen_pb_sk(gh, nacrel.to_scalar_from_str(scalar_text(5)))
    sk = nacrel.to_scalar_from_str(pbsk.get_sk())
    token = nacrel.to_token_from_pk(pbsk.get_pk(), r7)
    sum_tokens = nacrel.to_token_from_str(nacrel.p_to_x(cm, sk).get)

    points = {"g": gh.g, "h": gh.h, "cm": cm.get, "pk": pbsk.get_pk(), "identity": nacrel.commit(0, nacrel.to_scalar_from_str(scalar_text(0)), gh).get}
    uncompressed = {k: bytes(nacrel.from_str(v).to_bytes()).hex() for k, v in points.items()}

    # ---- point texts ----
    for k, v in points.items():
        add("fuzz_point_text", "compressed_" + k, v)
        add("fuzz_point_text", "uncompressed_" + k, uncompressed[k])
    add("fuzz_point_text", "upper_g", points["g"].upper())
    add("fuzz_point_text", "upper_uncompressed_h", uncompressed["h"].upper())
    add("fuzz_point_text", "object", json.dumps(point_obj(points["cm"])))
    add("fuzz_point_text", "object_reordered", json.dumps({"point": points["pk"], "curve": "bn254"}))
    add("fuzz_point_text", "array", json.dumps(["bn254", points["g"]]))
    add("fuzz_point_text", "list", json.dumps([point_obj(v) for v in points.values()]))
    add("fuzz_point_text", "x_is_p", "%064x" % P)
    add("fuzz_point_text", "both_flags", "c0" + "00" * 31)
    add("fuzz_point_text", "identity_with_bits", "40" + "00" * 30 + "01")
    add("fuzz_point_text", "escaped", points["h"][:-1] + "\\u0031")

    # ---- scalar texts ----
    for name, n in [("zero", 0), ("one", 1), ("seven", 7), ("r_minus_1", R - 1), ("r", R), ("all_ones", 2**256 - 1)]:
        add("fuzz_scalar_text", name, scalar_text(n))
    add("fuzz_scalar_text", "random", nacrel.gen_r().get)
    add("fuzz_scalar_text", "upper", nacrel.gen_r().get.upper())
    add("fuzz_scalar_text", "object", json.dumps(scalar_obj(scalar_text(R - 1))))
    add("fuzz_scalar_text", "array", json.dumps(["bn254", scalar_text(12345)]))
    add("fuzz_scalar_text", "other_curve", json.dumps(["secp256k1", scalar_text(1)]))

    # ---- bytes ----
    for k in ("g", "h", "cm", "identity"):
        add("fuzz_bytes", "compressed_" + k, bytes.fromhex(points[k]))
        add("fuzz_bytes", "uncompressed_" + k, bytes.fromhex(uncompressed[k]))
    # the uncompressed form accepts and ignores a sign bit
    signed = bytearray.fromhex(uncompressed["h"])
    signed[0] |= 0x80
    add("fuzz_bytes", "uncompressed_h_sign_bit", signed)
    add("fuzz_point_text", "uncompressed_h_sign_bit", signed.hex())
    add("fuzz_bytes", "scalar_r", R.to_bytes(32, "big"))
    add("fuzz_bytes", "all_ones_32", b"\xff" * 32)
    add("fuzz_bytes", "x_is_p_minus_1", (P - 1).to_bytes(32, "big"))
    add("fuzz_bytes", "leading_zeros", b"\x00" * 40 + b"\x01\x02")

    # ---- BigInt hex ----
    for name, s in [("empty", ""), ("zero", "00"), ("leading_zero", "0001"), ("upper", "ABCDEF"),
                    ("p", "%x" % P), ("pair", "%x,%x" % (P, R)), ("pair_zero_divisor", "ff,00"),
                    ("long_pair", "%0256x,%064x" % (3 ** 500, 2 ** 255 - 19))]:
        add("fuzz_bigint_hex", name, s if len(s.split(",")[0]) % 2 == 0 else "0" + s)

    # ---- hash to curve ----
    add("fuzz_hash_to_curve", "empty", b"")
    add("fuzz_hash_to_curve", "one", b"\x01")
    add("fuzz_hash_to_curve", "half", HALF.to_bytes(32, "big"))
    add("fuzz_hash_to_curve", "minus_half", (P - HALF).to_bytes(32, "big"))
    add("fuzz_hash_to_curve", "half_plus_p", (HALF + P).to_bytes(33, "big"))
    add("fuzz_hash_to_curve", "p", P.to_bytes(32, "big"))
    add("fuzz_hash_to_curve", "sha512_sized", bytes(range(64)))

    # ---- sigma proofs ----
    gh2 = nacrel.gen_new_GH(nacrel.g_to_x(gh, 5), nacrel.g_to_x(gh, 7))
    proofs = {
        "explicit": nacrel.sigma_dlog_proof_explicit(sum_tokens, pbsk, cm),
        "explicit_sha256": nacrel.sigma_dlog_proof_explicit_sha256(sum_tokens, pbsk, cm),
        "eq_dlog": nacrel.sigma_eq_dlog_proof(sum_tokens, pbsk, gh, cm),
        "eq_dlog_sha256": nacrel.sigma_eq_dlog_proof_sha256(sum_tokens, pbsk, gh, cm),
        "eq_same_secret": nacrel.sigma_eq_dlog_same_secret(-12345, gh, gh2),
        "eq_ped": nacrel.sigma_eq_dlog_ped_proof(3, gh, gh2, pbsk.get_pk()),
        "consistency": nacrel.consistency_proof(1, r7, gh, cm, token, pbsk.get_pk()),
    }
    for name, text in proofs.items():
        for form, v in zip(("pretty", "compact", "array"), variants(text)):
            add("fuzz_sigma_proofs", name + "_" + form, v)

    # ---- range proofs: value 1, blinding 7 over gen_GH, as fuzz_range_proof.cpp verifies ----
    for n in (1, 2, 4, 8):
        text = nacrel.range_proof_single(n, 1, gh, r7)
        assert nacrel.range_proof_single_verify(text, n, gh, cm)
        for form, v in zip(("pretty", "compact", "array"), variants(text)):
            add("fuzz_range_proof", "n%d_%s" % (n, form), v)
        ipa = json.loads(text)["inner_product_proof"]
        add("fuzz_range_proof", "n%d_inner_product" % n, json.dumps(ipa, indent=2))

    # ---- the JSON reader ----
    add("fuzz_json", "proof", proofs["consistency"])
    add("fuzz_json", "range_proof", nacrel.range_proof_single(2, 1, gh, r7))
    add("fuzz_json", "scalars", '[0, -1, 1.5e300, -0.0e-7, 12345678901234567890123, true, false, null]')
    add("fuzz_json", "strings", '{"a\\"b": "\\u00e9\\ud83d\\ude00\\n\\t\\/", "": [], "x": {}, "x": "dup"}')
    add("fuzz_json", "utf8", '["\u00e9\u4e2d\U0001f600"]')
    add("fuzz_json", "nested", "[" * 127 + "]" * 127)
    add("fuzz_json", "too_deep", "[" * 129 + "]" * 129)
    add("fuzz_json", "whitespace", ' \r\n\t{ "k" : [ "v" , { } ] } \n')
    add("fuzz_json", "lone_surrogate", '["\\ud800"]')

    total = 0
    for harness, files in sorted(seeds.items()):
        d = root / harness
        d.mkdir(parents=True)
        for name, data in sorted(files.items()):
            (d / name).write_bytes(data)
            total += len(data)
        print("%-22s %3d seeds" % (harness, len(files)))
    print("total %d bytes" % total)


if __name__ == "__main__":
    main()
