#include "frame/held.hpp"

#include <cstdint>
#include <type_traits>

namespace quorvant::frame {

namespace {

template <class T>
constexpr common::ElementType element_type() {
    using common::ElementType;
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

std::optional<common::Column> numeric_column(PyArrayObject* array) {
    std::optional<common::Column> out;
    visit_numeric(array, [&]<class T>(Strided<T> s) {
        out = common::Column{s.data, static_cast<std::ptrdiff_t>(s.stride), static_cast<std::size_t>(s.size),
                             element_type<T>()};
    });
    return out;
}

}  // namespace quorvant::frame
