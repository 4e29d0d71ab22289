// The model-performance loops read their inputs as common::Column views.
#pragma once

#include "common/column.hpp"

namespace quorvant::model_perf {

using common::Column;
using common::ElementType;
using common::Typed;
using common::visit;
using common::to_f32;

}  // namespace quorvant::model_perf
