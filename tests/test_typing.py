"""The installed type stubs against the module: every parameter name and
annotation agrees with the binding, every return annotation with what the call
returns, stubtest is clean, and mypy reads the stubs from the installed wheel."""

import ast
import os
import re
import subprocess
import sys
import textwrap

import pytest

import nacrel

SITE = os.path.dirname(nacrel.__file__)
PACKAGE_STUB = os.path.join(SITE, "nacrel-stubs", "__init__.pyi")
FLAT_STUB = os.path.join(SITE, "nacrel.pyi")
CLASSES = {name: getattr(nacrel, name) for name in ["Commit", "rand_r", "GH", "PbSk", "hx", "Token"]}


def _load_stub():
    with open(PACKAGE_STUB, encoding="utf-8") as f:
        tree = ast.parse(f.read())
    functions, classes = {}, {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            functions[node.name] = node
        elif isinstance(node, ast.ClassDef):
            classes[node.name] = {n.name: n for n in node.body if isinstance(n, ast.FunctionDef)}
    return functions, classes


FUNCTIONS, METHODS = _load_stub()


def _params(fn, method=False):
    a = fn.args
    # Every parameter is positional-or-keyword and required, as the binding takes them.
    assert not (a.posonlyargs or a.kwonlyargs or a.vararg or a.kwarg or a.defaults), fn.name
    names = [p.arg for p in a.args]
    if method:
        assert names[0] == "self", fn.name
        names = names[1:]
    return names, [ast.unparse(p.annotation) for p in a.args[1 if method else 0:]]


def _is_property(fn):
    return any(ast.unparse(d) == "property" for d in fn.decorator_list)


def _check_type(value, annotation):
    if annotation == "list[int]":
        return type(value) is list and all(type(v) is int for v in value)
    expected = {"str": str, "bool": bool, "int": int, "None": type(None)}.get(annotation) or CLASSES[annotation]
    return type(value) is expected


# The message of the binding's conversion when an object() stands in for a
# parameter: it names the kind the binding expects.
def _kind_message(name, annotation):
    if annotation == "int":
        return "argument '%s': 'object' object cannot be interpreted as an integer" % name
    target = {"str": "PyString", "Sequence[int]": "Sequence"}.get(annotation, annotation)
    return "argument '%s': 'object' object cannot be converted to '%s'" % (name, target)


@pytest.fixture(scope="module")
def values():
    """Arguments that make every call succeed: by "name: annotation", else by annotation."""
    gh = nacrel.gen_GH()
    r = nacrel.gen_r()
    k = nacrel.gen_pb_sk(gh)
    c = nacrel.commit(1, r, gh)
    sk = nacrel.to_scalar_from_str(k.get_sk())
    return {
        "Commit": c, "rand_r": r, "GH": gh, "PbSk": k, "Sequence[int]": [7] * 32,
        "Token": k.to_token(r),
        # sum_tokens = h_sumR * sk, as the equality provers and verifiers require.
        "sum_tokens: Token": nacrel.to_token_from_pk(c.get, sk),
        "gh2: GH": nacrel.gen_new_GH(nacrel.from_str(gh.h), nacrel.from_str(gh.g)),
        "n_bit: int": 2, "range: int": 4, "int": 1,
        "str_point: str": c.get, "com_l: str": c.get, "com_r: str": c.get, "str_scalar: str": r.get,
        "x_: str": "0" * 63 + "1", "y_: str": "0" * 63 + "2",
        "pk: str": k.get_pk(), "pubkey: str": k.get_pk(), "pk_json_point: str": k.get_pk(),
    }


PROVER_OF = {
    "sigma_dlog_proof_explicit_verify": "sigma_dlog_proof_explicit",
    "sigma_dlog_proof_explicit_verify_sha256": "sigma_dlog_proof_explicit_sha256",
    "sigma_eq_dlog_verify": "sigma_eq_dlog_proof",
    "sigma_eq_dlog_verify_sha256": "sigma_eq_dlog_proof_sha256",
    "sigma_eq_dlog_verify_same_secret": "sigma_eq_dlog_same_secret",
    "sigma_eq_dlog_ped_verify": "sigma_eq_dlog_ped_proof",
    "consistency_proof_verify": "consistency_proof",
    "range_proof_single_verify": "range_proof_single",
}


def _args(name, params, annotations, values):
    args = {}
    for p, a in zip(params, annotations):
        key = "%s: %s" % (p, a)
        if a == "str" and key not in values:
            # The proof text a verifier reads: made by its prover.
            prover = PROVER_OF[name]
            args[p] = getattr(nacrel, prover)(**_args(prover, *_params(FUNCTIONS[prover]), values))
        else:
            args[p] = values.get(key, values.get(a))
    return args


def test_installed_stub_files():
    # The stub package mypy reads and the flat stub beside the module are one file.
    with open(PACKAGE_STUB, "rb") as a, open(FLAT_STUB, "rb") as b:
        assert a.read() == b.read()
    assert os.path.isfile(os.path.join(SITE, "nacrel-stubs", "py.typed"))


def test_stub_covers_the_module():
    assert set(FUNCTIONS) | set(METHODS) == set(nacrel.__all__)
    tree = ast.parse(open(PACKAGE_STUB, encoding="utf-8").read())
    stub_all = next(ast.literal_eval(n.value) for n in tree.body
                    if isinstance(n, ast.Assign) and ast.unparse(n.targets[0]) == "__all__")
    assert stub_all == nacrel.__all__
    for cls, members in METHODS.items():
        runtime = {n for n in vars(CLASSES[cls]) if not n.startswith("__")}
        assert set(members) == runtime, cls
        for n, fn in members.items():
            assert _is_property(fn) == (type(vars(CLASSES[cls])[n]).__name__ == "getset_descriptor"), n


def _check_argument_errors(call, params, annotations, args):
    # The binding names its missing parameters in order, refuses arguments
    # to a call without parameters, and names the kind each one wants.
    if params:
        with pytest.raises(TypeError) as info:
            call()
        assert re.findall(r"'([^']+)'", str(info.value).split(": ", 1)[1]) == params
    else:
        with pytest.raises(TypeError):
            call(1)
    for p, a in zip(params, annotations):
        with pytest.raises(TypeError) as info:
            call(**dict(args, **{p: object()}))
        assert str(info.value) == _kind_message(p, a)


@pytest.mark.parametrize("name", sorted(FUNCTIONS))
def test_function_signature_and_result(name, values, capfd):
    fn = getattr(nacrel, name)
    params, annotations = _params(FUNCTIONS[name])
    args = _args(name, params, annotations, values)
    _check_argument_errors(fn, params, annotations, args)
    result = fn(**args)
    returns = ast.unparse(FUNCTIONS[name].returns)
    assert _check_type(result, returns), (name, type(result), returns)
    if name in PROVER_OF:
        assert result is True, name  # the arguments above are consistent
    capfd.readouterr()


@pytest.mark.parametrize("cls,member", sorted((c, m) for c, ms in METHODS.items() for m in ms))
def test_method_signature_and_result(cls, member, values):
    node = METHODS[cls][member]
    obj = values[cls]
    returns = ast.unparse(node.returns)
    if _is_property(node):
        assert _check_type(getattr(obj, member), returns)
        return
    method = getattr(obj, member)
    params, annotations = _params(node, method=True)
    args = {p: values[a] for p, a in zip(params, annotations)}
    _check_argument_errors(method, params, annotations, args)
    assert _check_type(method(**args), returns), (cls, member)


def _run(args, cwd):
    return subprocess.run([sys.executable, "-m"] + args, cwd=str(cwd), capture_output=True, text=True,
                          timeout=300)


def test_stubtest_clean(tmp_path):
    res = _run(["mypy.stubtest", "nacrel", "--mypy-config-file", os.devnull], tmp_path)
    assert res.returncode == 0, res.stdout + res.stderr


def test_mypy_reads_the_installed_stubs(tmp_path):
    # Lines marked "# bad" are each flagged; everything else checks under --strict.
    source = textwrap.dedent("""\
        import nacrel

        gh: nacrel.GH = nacrel.gen_GH()
        r = nacrel.gen_r()
        c = nacrel.commit(val=5, r=r, gh=gh)
        proof: str = nacrel.range_proof_single(8, 5, gh, r)
        ok: bool = nacrel.range_proof_single_verify(proof, 8, gh, c)
        data: list[int] = c.to_bytes()
        text: str = c.get + r.get + c.sum(c).to_str + nacrel.from_str(c.get).x
        t: nacrel.Token = nacrel.gen_pb_sk(gh).to_token(r.neg())
        found: int = nacrel.get_brut_v(c, t, gh, nacrel.gen_pb_sk(gh), 10)
        nacrel.commit("5", r, gh)  # bad: str for int
        nacrel.commit(5, gh, r)  # bad: swapped classes
        nacrel.commit(value=5, r=r, gh=gh)  # bad: no such keyword
        nacrel.add(c, t)  # bad: a Token is not a Commit
        n: int = c.get  # bad: a property of type str
        c.get()  # bad: a property is not callable
        flag: str = nacrel.sigma_eq_dlog_verify(proof, gh, c, t)  # bad: returns bool
        nacrel.hx.sum  # bad: hx has no members
        class Sub(nacrel.Commit): ...  # bad: final
        """)
    (tmp_path / "snippet.py").write_text(source)
    res = _run(["mypy", "--strict", "--no-error-summary", "--cache-dir", str(tmp_path / "cache"),
                "snippet.py"], tmp_path)
    flagged = sorted({int(m) for m in re.findall(r"^snippet\.py:(\d+): error", res.stdout, re.M)})
    bad = [i + 1 for i, line in enumerate(source.splitlines()) if "# bad" in line]
    assert flagged == bad, res.stdout
