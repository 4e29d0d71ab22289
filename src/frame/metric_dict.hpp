// Reading the metric dictionaries of the runtime checks (metric name ->
// number) in one pass: each key is resolved to its metric as it is met and
// each value goes through the float protocol, narrowed to f32. Keys are
// compared with the interned display names first, so dictionaries made by
// the analyzers or written as literals resolve without looking at their text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/convert.hpp"
#include "frame/interned.hpp"
#include "frame/python.hpp"
#include "metrics/metrics.hpp"

namespace quorvant::frame {

// Keys that name no metric: skipped, or kept (as text) for an error report.
enum class UnknownKeys : std::uint8_t { Ignore, Collect };

template <class M>
struct MetricDict {
    metrics::MetricMap<M> values;      // the metrics found
    std::vector<std::string> unknown;  // other keys, in dict order (Collect only)
};

// The display names of M as interned str objects of this interpreter (see
// frame/interned.hpp), all made on the first use of any. A null entry (no
// memory to make it) is covered by comparing text, and made on a later use.
template <class M>
std::array<PyObject*, metrics::metric_count<M>> interned_metric_names() {
    static std::array<InternedSlot, metrics::metric_count<M>> slots;
    std::array<PyObject*, metrics::metric_count<M>> out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = interned(metrics::MetricTraits<M>::names[i], slots[i]);
    return out;
}

namespace detail {

// The items of a dict from an iteration position on, each with a strong
// reference: converting a value may run code that changes or empties the
// dict.
class DictItems {
public:
    DictItems(PyObject* dict, Py_ssize_t pos);
    DictItems(const DictItems&) = delete;
    DictItems& operator=(const DictItems&) = delete;
    ~DictItems();

    std::size_t size() const { return items_.size() / 2; }
    PyObject* key(std::size_t i) const { return items_[2 * i]; }
    PyObject* value(std::size_t i) const { return items_[2 * i + 1]; }

private:
    std::vector<PyObject*> items_;  // key, value, key, value, ...
};

// "argument 'x': keys must be str, not T"; returns false.
bool key_type_error(PyObject* key, const char* arg);
inline bool check_key(PyObject* key, const char* arg) { return PyUnicode_Check(key) || key_type_error(key, arg); }
// The float protocol narrowed to f32; a TypeError names the argument.
bool value_f32(PyObject* value, const char* arg, float& out);
// The text of a str for an error message; unencodable characters escaped.
std::optional<std::string> key_text(PyObject* key);
// The characters of an ASCII str; nullopt for any other (no metric name
// holds a non-ASCII character).
std::optional<std::string_view> ascii_text(PyObject* str);
template <class M>
class MetricDictReader {
public:
    explicit MetricDictReader(UnknownKeys unknown) : names_(interned_metric_names<M>()), unknown_(unknown) {}

    // One entry whose key is known to be a str.
    bool take(PyObject* key, float value) {
        if (const std::optional<M> m = resolve(key)) {
            out_.values.insert(*m, value);
        } else if (unknown_ == UnknownKeys::Collect) {
            std::optional<std::string> text = key_text(key);
            if (!text) return false;
            out_.unknown.push_back(std::move(*text));
        }
        return true;
    }

    MetricDict<M> finish() { return std::move(out_); }

private:
    // Pointer comparison with the interned names first, starting where the
    // last match left off (dictionaries usually follow variant order).
    std::optional<M> resolve(PyObject* key) {
        constexpr std::size_t K = metrics::metric_count<M>;
        for (std::size_t j = 0; j < K; ++j) {
            std::size_t i = hint_ + j;
            if (i >= K) i -= K;
            if (key == names_[i]) {
                hint_ = i + 1 < K ? i + 1 : 0;
                return static_cast<M>(i);
            }
        }
        const auto text = ascii_text(key);
        if (!text) return std::nullopt;
        return metrics::parse<M>(*text);
    }

    const std::array<PyObject*, metrics::metric_count<M>> names_;
    UnknownKeys unknown_;
    std::size_t hint_ = 0;
    MetricDict<M> out_;
};

}  // namespace detail

// A dict from metric name (str) to number. Every entry is checked in dict
// order: a non-str key or a value the float protocol refuses raises the
// argument's TypeError (other errors of the protocol pass unchanged). When a
// str subclass makes two keys name one metric, the later value wins.
template <class M>
std::optional<MetricDict<M>> read_metric_dict(PyObject* obj, const char* arg, UnknownKeys unknown) {
    if (!PyDict_Check(obj)) {
        argument_type_error(arg, "dict", obj);
        return std::nullopt;
    }
    detail::MetricDictReader<M> reader(unknown);
    Py_ssize_t pos = 0;
    Py_ssize_t at = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    // Exact floats are read in place: nothing can run that changes the dict.
    while (PyDict_Next(obj, &pos, &key, &value)) {
        if (!detail::check_key(key, arg)) return std::nullopt;
        if (!PyFloat_CheckExact(value)) {
            // Any other value may run code: hold the remaining items first.
            const detail::DictItems rest(obj, at);
            for (std::size_t i = 0; i < rest.size(); ++i) {
                float v = 0.0f;
                if (!detail::check_key(rest.key(i), arg) || !detail::value_f32(rest.value(i), arg, v) ||
                    !reader.take(rest.key(i), v)) {
                    return std::nullopt;
                }
            }
            break;
        }
        if (!reader.take(key, static_cast<float>(PyFloat_AS_DOUBLE(value)))) return std::nullopt;
        at = pos;
    }
    return reader.finish();
}

}  // namespace quorvant::frame
