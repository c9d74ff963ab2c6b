// Bodies of the range-proof functions.
#include "module/entries.hpp"

namespace nacrel::py {

PyObject* entry_range_proof_test(const Args&) { not_implemented("range_proof_test"); }

PyObject* entry_range_proof_single(const Args&) { not_implemented("range_proof_single"); }

PyObject* entry_range_proof_single_verify(const Args&) { not_implemented("range_proof_single_verify"); }

PyObject* entry_ghvec(const Args&) { not_implemented("ghvec"); }

}  // namespace nacrel::py
