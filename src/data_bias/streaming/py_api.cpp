// Python face of the streaming pre-training bias monitor.
#include "data_bias/streaming/state.hpp"
#include "data_bias/streaming/streaming_data_bias.hpp"
#include "data_handler/py_labeled_rows.hpp"
#include "frame/pyclass.hpp"
#include "registry.hpp"

namespace quorvant::data_bias::streaming::py_api {

namespace {

namespace rows = data_handler::labeled_rows;

constexpr frame::Param kNewParams[] = {{"feature_data"}, {"gt_data"}};
constexpr const char* kNewNames[2] = {"feature_data", "gt_data"};
constexpr frame::Param kRowParams[] = {{"f"}, {"g"}};
constexpr const char* kRowNames[2] = {"f", "g"};

struct Names {
    using Core = StreamingDataBias;
    static constexpr const char* name = "PyDataBiasStreaming";
    static constexpr const char* doc = "PyDataBiasStreaming(feature_data, gt_data)\n--\n\n";
    static constexpr rows::Columns<2> construct_columns{name, kNewParams, kNewNames};
    static constexpr rows::Columns<2> row_columns{nullptr, kRowParams, kRowNames};
    using Codec = StreamingDataBiasCodec;
    static constexpr auto parse = &metrics::parse_data_bias_list;
    static constexpr const char* row_docs[3] = {"push($self, f, g)\n--\n\n", "push_batch($self, f, g)\n--\n\n",
                                                "reset_baseline($self, f, g)\n--\n\n"};
};

}  // namespace

}  // namespace quorvant::data_bias::streaming::py_api

namespace quorvant::registry {

PyType_Spec PyDataBiasStreaming =
    frame::class_spec<data_handler::labeled_rows::Face<data_bias::streaming::py_api::Names>>();

}  // namespace quorvant::registry
