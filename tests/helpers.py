"""Small helpers shared by the Python tests."""

import nacrel


def panic_type():
    """The module's PanicException type (not a module attribute), taken from a
    call that fails; each call makes a fresh failure."""
    try:
        nacrel.from_str("zz")
    except BaseException as e:  # noqa: B036 - the panic type is what we want
        return type(e)
    raise AssertionError("from_str('zz') did not fail")
