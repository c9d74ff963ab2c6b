"""The module's callables as data, for the tests that sweep all of them.

The parameter lists are read from the registration tables in src/module
(registry.cpp for the functions, classes.cpp for the methods and properties),
so a function added there is swept without editing the tests. Samples builds
one consistent set of values and a valid call of every callable."""

import os
import re

import nacrel

_MODULE_SRC = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "src", "module")

# Kind names of the C++ table -> Python class names.
CLASS_OF_KIND = {"Commit": "Commit", "RandR": "rand_r", "GH": "GH", "PbSk": "PbSk", "Hx": "hx", "Token": "Token"}
CLASSES = list(CLASS_OF_KIND.values())
_GETSET_PREFIX = {"commit": "Commit", "rand_r": "rand_r", "gh": "GH", "token": "Token", "pbsk": "PbSk", "hx": "hx"}


def _read(name):
    with open(os.path.join(_MODULE_SRC, name)) as f:
        return f.read()


def _param_lists(text):
    """name -> [(param, kind)] for every `constexpr Param NAME[] = {...};`."""
    out = {}
    for m in re.finditer(r"constexpr Param (\w+)\[\] = \{(.*?)\};", text, re.S):
        out[m.group(1)] = re.findall(r'\{"(\w+)", (?:K|Kind)::(\w+)\}', m.group(2))
    return out


def _functions():
    text = _read("registry.cpp")
    params = _param_lists(text)
    table = text[text.index("constexpr FunctionSpec kFunctions[]"):]
    table = table[:table.index("};")]
    out = []
    for name, plist, count in re.findall(r'\{"(\w+)", (\w+), (\d+), &entry_\w+\}', table):
        ps = [] if plist == "nullptr" else params[plist]
        assert len(ps) == int(count), name
        out.append((name, ps))
    return out


def _methods():
    text = _read("classes.cpp")
    params = _param_lists(text)
    out = []
    for kind, name, plist, count in re.findall(
            r'constexpr MethodSpec \w+\{Kind::(\w+), "(\w+)", (\w+), (\d+), \w+\};', text):
        ps = [] if plist == "nullptr" else params[plist]
        assert len(ps) == int(count), name
        out.append((CLASS_OF_KIND[kind], name, ps))
    getters = []
    for prefix, body in re.findall(r"PyGetSetDef (\w+)_getset\[\] = \{(.*?)\};", text, re.S):
        for attr in re.findall(r'NACREL_GETTER\("(\w+)"', body):
            getters.append((_GETSET_PREFIX[prefix], attr))
    return out, getters


# [(function name, [(param, kind), ...])] in registration order.
FUNCTIONS = _functions()
# [(class name, method name, [(param, kind), ...])] and [(class name, property)].
METHODS, GETTERS = _methods()

# Functions that write to file descriptor 1.
PRINTING = {"print_commit", "print_token", "hash_test1", "hash_test2", "hash_test3", "range_proof_test"}
# Functions that verify a proof text (their first parameter).
VERIFIERS = [name for name, ps in FUNCTIONS if ps and ps[0][1] == "Str" and "verif" in name]

N_BIT = 8


def scalar_text(n):
    return "%064x" % n


class Samples:
    """One consistent set of values: a commitment c to `val` with blinding r, a
    key pair k with token t = pk*r (so get_brut_v(c, t, gh, k, R) finds val),
    sum_tokens = c*sk (the statement of the key-equality and explicit proofs),
    and a valid proof text for every verifier."""

    def __init__(self, val=5):
        n = nacrel
        self.val = val
        self.gh = n.gen_GH()
        self.gh2 = n.gen_new_GH(n.g_to_x(self.gh, 5), n.g_to_x(self.gh, 7))
        self.r = n.gen_r()
        self.k = n.gen_pb_sk(self.gh)
        self.sk = n.to_scalar_from_str(self.k.get_sk())
        self.c = n.commit(val, self.r, self.gh)
        self.t = self.k.to_token(self.r)
        self.sum_tokens = n.to_token_from_str(n.p_to_x(self.c, self.sk).get)
        self.hx = n.h_to_x(self.gh, self.r)
        self.pk = self.k.get_pk()
        self.by_kind = {"Commit": self.c, "RandR": self.r, "GH": self.gh, "PbSk": self.k, "Hx": self.hx,
                        "Token": self.t, "I32": val, "Usize": N_BIT, "Str": self.c.get, "Bytes32": [1] * 32}
        self.proofs = {
            "sigma_eq_dlog_verify": n.sigma_eq_dlog_proof(self.sum_tokens, self.k, self.gh, self.c),
            "sigma_eq_dlog_verify_sha256": n.sigma_eq_dlog_proof_sha256(self.sum_tokens, self.k, self.gh, self.c),
            "sigma_dlog_proof_explicit_verify": n.sigma_dlog_proof_explicit(self.sum_tokens, self.k, self.c),
            "sigma_dlog_proof_explicit_verify_sha256":
                n.sigma_dlog_proof_explicit_sha256(self.sum_tokens, self.k, self.c),
            "consistency_proof_verify": n.consistency_proof(val, self.r, self.gh, self.c, self.t, self.pk),
            "sigma_eq_dlog_verify_same_secret": n.sigma_eq_dlog_same_secret(val, self.gh, self.gh2),
            "sigma_eq_dlog_ped_verify": n.sigma_eq_dlog_ped_proof(val, self.gh, self.gh2, self.pk),
            "range_proof_single_verify": n.range_proof_single(N_BIT, val, self.gh, self.r),
        }
        assert set(self.proofs) == set(VERIFIERS)

    # Per-function values that differ from the kind's sample.
    def _fixed_value(self, fn, param):
        if fn in self.proofs and param == FUNCTION_PARAMS[fn][0][0]:
            return self.proofs[fn]
        return {
            ("to_scalar_from_str", "str_scalar"): self.r.get,
            ("from_coords", "x_"): scalar_text(1),
            ("from_coords", "y_"): scalar_text(2),
            ("to_token_from_pk", "pk_json_point"): self.pk,
            ("consistency_proof", "pubkey"): self.pk,
            ("consistency_proof_with_witness", "pubkey"): self.pk,
            ("consistency_proof_verify", "pubkey"): self.pk,
            ("sigma_eq_dlog_ped_proof", "pk"): self.pk,
            ("sigma_eq_dlog_ped_proof_with_witness", "pk"): self.pk,
            ("sigma_eq_dlog_same_secret", "gh2"): self.gh2,
            ("sigma_eq_dlog_verify_same_secret", "gh2"): self.gh2,
            ("sigma_eq_dlog_ped_proof", "gh2"): self.gh2,
            ("sigma_eq_dlog_ped_verify", "gh2"): self.gh2,
            ("sigma_eq_dlog_ped_proof_with_witness", "gh2"): self.gh2,
            ("get_brut_v", "range"): 10,
        }.get((fn, param))

    def args(self, fn):
        """A valid argument tuple for module function fn."""
        out = []
        for param, kind in FUNCTION_PARAMS[fn]:
            fixed = self._fixed_value(fn, param)
            if fixed is None and kind in ("Token",) and fn.startswith(("sigma_eq_dlog", "sigma_dlog")):
                fixed = self.sum_tokens
            out.append(self.by_kind[kind] if fixed is None else fixed)
        return tuple(out)

    def instance(self, cls):
        return self.by_kind[{v: k for k, v in CLASS_OF_KIND.items()}[cls]]

    def method_args(self, cls, name):
        for c, m, ps in METHODS:
            if (c, m) == (cls, name):
                return tuple(self.by_kind[kind] for _, kind in ps)
        raise KeyError((cls, name))


FUNCTION_PARAMS = dict(FUNCTIONS)
