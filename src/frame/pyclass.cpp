#include "frame/pyclass.hpp"

#include "frame/refs.hpp"

namespace quorvant::frame {

bool add_type(PyObject* module, PyType_Spec* spec) {
    Owned type = Owned::steal(PyType_FromModuleAndSpec(module, spec, nullptr));
    if (!type) return false;
    return PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(type.get())) == 0;
}

}  // namespace quorvant::frame
