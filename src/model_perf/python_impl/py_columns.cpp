#include "model_perf/python_impl/py_columns.hpp"

#include "data_handler/py_types_handler.hpp"

namespace quorvant::model_perf::python_impl {

namespace {

template <class T>
constexpr ElementType element_type() {
    if constexpr (std::is_same_v<T, double>) return ElementType::F64;
    else if constexpr (std::is_same_v<T, float>) return ElementType::F32;
    else if constexpr (std::is_same_v<T, std::int64_t>) return ElementType::I64;
    else if constexpr (std::is_same_v<T, std::int32_t>) return ElementType::I32;
    else if constexpr (std::is_same_v<T, std::int16_t>) return ElementType::I16;
    else if constexpr (std::is_same_v<T, std::int8_t>) return ElementType::I8;
    else if constexpr (std::is_same_v<T, std::uint64_t>) return ElementType::U64;
    else if constexpr (std::is_same_v<T, std::uint32_t>) return ElementType::U32;
    else if constexpr (std::is_same_v<T, std::uint16_t>) return ElementType::U16;
    else if constexpr (std::is_same_v<T, std::uint8_t>) return ElementType::U8;
    else return ElementType::Bool;
}

}  // namespace

std::optional<Column> buffer_column(PyArrayObject* array, bool with_bool) {
    std::optional<Column> out;
    frame::visit_numeric(array, [&]<class T>(frame::Strided<T> s) {
        if (std::is_same_v<T, bool> && !with_bool) return;
        out = Column{s.data, static_cast<std::ptrdiff_t>(s.stride), static_cast<std::size_t>(s.size),
                     element_type<T>()};
    });
    return out;
}

std::optional<BatchColumns> BatchColumns::from(PyArrayObject* y_true, PyArrayObject* y_pred) {
    BatchColumns c;
    const auto t = buffer_column(y_true, false);
    const auto p = buffer_column(y_pred, false);
    if (t && p) {
        c.t_ = *t;
        c.p_ = *p;
        return c;
    }
    // The generic conversion defines the results and the errors.
    auto tv = data_handler::convert_f32(y_true, data_handler::determine_type(y_true));
    if (!tv) return std::nullopt;
    auto pv = data_handler::convert_f32(y_pred, data_handler::determine_type(y_pred));
    if (!pv) return std::nullopt;
    c.converted_ = true;
    c.t_values_ = std::move(*tv);
    c.p_values_ = std::move(*pv);
    return c;
}

}  // namespace quorvant::model_perf::python_impl
