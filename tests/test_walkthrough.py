"""The two-process walk-through in examples/ runs to completion, and refuses a
transfer whose commitments were swapped in transit."""

import pathlib
import re
import subprocess
import sys

WALKTHROUGH = pathlib.Path(__file__).resolve().parent.parent / "examples" / "walkthrough.py"


def run(*args):
    done = subprocess.run([sys.executable, str(WALKTHROUGH), *args], capture_output=True, text=True,
                          timeout=120)
    return done.returncode, done.stdout + done.stderr


def test_walkthrough_accepts_an_honest_transfer_and_refuses_a_tampered_one():
    status, out = run()
    assert status == 0, out
    # Both parties ran as their own processes and spoke in the expected order.
    order = [m.group(0) for m in re.finditer(r"^(receiver -> sender|sender -> receiver)\s+\w+", out, re.M)]
    assert [o.split()[-1] for o in order] == ["hello", "transfer", "receipt"], out
    checks = re.findall(r"^\[(\w+)\]\s+check: (.*?)\s{2,}(ok|FAILED)\b", out, re.M)
    assert len(checks) == 6 and all(result == "ok" for _, _, result in checks), out
    assert {role for role, _, _ in checks} == {"sender", "receiver"}
    assert "[receiver] recovered amount: 250" in out
    assert "[sender]   receiver accepted the transfer" in out
    assert "walk-through complete: all checks passed" in out

    # Swapped outputs still balance, but every proof and the recovery fail.
    status, out = run("--tamper")
    assert status == 1, out
    failed = set(re.findall(r"^\[receiver\]\s+check: (\w+):.*FAILED", out, re.M))
    assert failed == {"consistency", "range", "recovery"}, out
    assert re.search(r"check: balance: .*\bok\b", out), out
    assert "recovered amount" not in out
    assert "walk-through FAILED" in out
