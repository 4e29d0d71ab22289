// Python face of the streaming post-training bias monitor.
#include "data_handler/py_labeled_rows.hpp"
#include "frame/pyclass.hpp"
#include "model_bias/streaming/state.hpp"
#include "model_bias/streaming/streaming_model_bias.hpp"
#include "registry.hpp"

namespace quorvant::model_bias::python_impl::py_streaming_api {

namespace {

namespace rows = data_handler::labeled_rows;

constexpr frame::Param kNewParams[] = {{"features"}, {"predictions"}, {"ground_truth"}};
constexpr const char* kNewNames[3] = {"features", "predictions", "ground_truth"};
constexpr frame::Param kRowParams[] = {{"feature"}, {"pred"}, {"gt"}};
constexpr const char* kRowNames[3] = {"feature", "pred", "gt"};

struct Names {
    using Core = streaming::StreamingModelBias;
    static constexpr const char* name = "PyModelBiasStreaming";
    static constexpr const char* doc = "PyModelBiasStreaming(features, predictions, ground_truth)\n--\n\n";
    static constexpr rows::Columns<3> construct_columns{name, kNewParams, kNewNames};
    static constexpr rows::Columns<3> row_columns{nullptr, kRowParams, kRowNames};
    using Codec = streaming::StreamingModelBiasCodec;
    static constexpr auto parse = &metrics::parse_model_bias_list;
    static constexpr const char* row_docs[3] = {"push($self, feature, pred, gt)\n--\n\n",
                                                "push_batch($self, feature, pred, gt)\n--\n\n",
                                                "reset_baseline($self, feature, pred, gt)\n--\n\n"};
};

}  // namespace

}  // namespace quorvant::model_bias::python_impl::py_streaming_api

namespace quorvant::registry {

PyType_Spec PyModelBiasStreaming =
    frame::class_spec<data_handler::labeled_rows::Face<model_bias::python_impl::py_streaming_api::Names>>();

}  // namespace quorvant::registry
