// Access to the registration table of the module functions.
#pragma once

#include <Python.h>

#include <cstddef>

namespace nacrel::py {

// The method definitions of the module functions in registration order.
PyMethodDef* function_defs(size_t& n);

}  // namespace nacrel::py
