// Why a state payload was refused or two objects could not be merged: a
// sentence for the user. The binding frame raises it as ValueError.
#pragma once

#include <expected>
#include <string>
#include <utility>

namespace quorvant::state {

struct Error {
    std::string message;
};

inline std::unexpected<Error> fail(std::string message) { return std::unexpected(Error{std::move(message)}); }

}  // namespace quorvant::state
