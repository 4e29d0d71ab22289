"""How the table-level API reads its inputs.

Every public function of the layer reads tables and columns through this one
module, so every function accepts the same things and refuses the same things
with the same words:

- tables: anything narwhals reads eagerly (pandas, polars, pyarrow, ...) and
  mappings of column name to column;
- columns: narwhals-readable series (pandas numpy-backed, nullable, categorical
  and Arrow-backed; polars; pyarrow chunked arrays), pyarrow arrays, NumPy
  arrays of any dtype and stride (1-D or ``(n, 1)``), lists and tuples.

A column becomes a :class:`Column` of one of three kinds: ``numeric`` (a NumPy
array of integers or floats, a view of the caller's buffer where one exists),
``bool`` or ``text`` (an object array of ``str``, each distinct label one
shared ``str`` object wherever the source stores labels once, as categoricals
and Arrow dictionaries do). Missing values (NaN, None, ``pd.NA``, nulls) are
reported as a mask beside the values, never as a value. Per-value work stays
in NumPy, Arrow or the backend library: Python costs a fixed amount per call.
"""

from __future__ import annotations

import os
import re
from collections.abc import Mapping
from dataclasses import dataclass
from fractions import Fraction
from typing import Any

import narwhals.stable.v2 as nw
import numpy as np

KINDS = ("numeric", "bool", "text")
MISSING_POLICIES = ("drop", "error")


class InputError(ValueError):
    """A table or column the layer cannot read, with what to do about it."""


@dataclass(frozen=True, slots=True, eq=False)
class Column:
    """One column as the layer reads it.

    ``values`` is 1-D: integers or floats (``numeric``; missing rows NaN),
    ``bool`` (missing rows False) or an object array of ``str`` (``text``;
    missing rows None). ``missing`` is a bool mask, or None when no row is
    missing.
    """

    name: str
    kind: str
    values: np.ndarray
    missing: np.ndarray | None
    #: Text taken on trust from a list or object array: its first value is a
    #: str, the rest was not looked at (see :func:`verified`).
    unchecked: bool = False

    def __len__(self) -> int:
        return len(self.values)

    @property
    def n_missing(self) -> int:
        return 0 if self.missing is None else int(np.count_nonzero(self.missing))


# ---------------------------------------------------------------------------
# Tables


class Table:
    """Column access to one input table, whatever library holds it."""

    __slots__ = ("arg", "names", "n_rows", "_frame", "_mapping")

    def __init__(self, data: Any, arg: str) -> None:
        self.arg = arg
        self._frame = None
        self._mapping = None
        if isinstance(data, Mapping):
            self._mapping = data
            self.names = [str(k) for k in data]
            lengths = {name: _length(col, name) for name, col in zip(self.names, data.values())}
            if len(set(lengths.values())) > 1:
                detail = ", ".join(f"{k!r}: {v}" for k, v in lengths.items())
                raise InputError(f"{arg}: columns differ in length ({detail}); give every column the same rows")
            self.n_rows = next(iter(lengths.values()), 0)
            return
        frame = nw.from_native(data, eager_only=True, pass_through=True)
        if not isinstance(frame, nw.DataFrame):
            lazy = nw.from_native(data, pass_through=True)
            if isinstance(lazy, nw.LazyFrame):
                raise InputError(f"{arg}: a lazy frame; collect it into a DataFrame first")
            raise InputError(
                f"{arg}: expected a table (a pandas, polars or pyarrow DataFrame, or a dict of columns), "
                f"not {type(data).__name__}"
            )
        self._frame = frame
        self.names = [str(c) for c in frame.columns]
        self.n_rows = int(frame.shape[0])

    def column(self, name: str) -> Any:
        """The raw column object of `name` (a narwhals Series or an array-like)."""
        if name not in self.names:
            raise InputError(f"{self.arg}: no column {name!r} (columns: {_short_list(self.names)})")
        if self._mapping is not None:
            key = name if name in self._mapping else next(k for k in self._mapping if str(k) == name)
            return self._mapping[key]
        return self._frame.get_column(name)

    def read(self, name: str) -> Column:
        return read_column(self.column(name), name)

    def require(self, names: list[str]) -> None:
        missing = [n for n in names if n not in self.names]
        if missing:
            raise InputError(
                f"{self.arg}: no column {', '.join(map(repr, missing))} (columns: {_short_list(self.names)})"
            )


def read_table(data: Any, arg: str) -> Table:
    """The table `data` (argument `arg`) or an :class:`InputError` saying what a table is."""
    if isinstance(data, Table):
        return data
    return Table(data, arg)


def _short_list(names: list[str], limit: int = 12) -> str:
    shown = ", ".join(map(repr, names[:limit]))
    return shown + (f", ... ({len(names)} in all)" if len(names) > limit else "")


def _length(col: Any, name: str) -> int:
    if hasattr(col, "__len__"):
        return len(col)
    return len(read_column(col, name))


# ---------------------------------------------------------------------------
# Columns


def read_column(obj: Any, name: str, trust_text: bool = False) -> Column:
    """Reads one column of any supported kind into a :class:`Column`.

    With `trust_text`, a list or object array whose first value is a str is
    taken as text as it is, without looking for missing or non-text values
    (a pass that costs more than the native drift faces themselves); the
    caller hands it to a native face, which refuses any item that is not a
    str, and then reads it again with :func:`verified`.
    """
    if isinstance(obj, Column):
        return obj
    series = _as_series(obj)
    if series is not None:
        return _from_series(series, name)
    if trust_text and isinstance(obj, (list, tuple, np.ndarray)) and _starts_with_text(obj):
        return Column(name, "text", obj if isinstance(obj, np.ndarray) else list(obj), None, unchecked=True)
    if isinstance(obj, np.ndarray):
        return _from_numpy(obj, name)
    if isinstance(obj, (list, tuple)):
        return _from_sequence(obj, name)
    if isinstance(obj, (str, bytes)) or not hasattr(obj, "__len__"):
        raise InputError(f"column {name!r}: expected an array, a list or a table column, not {type(obj).__name__}")
    try:
        array = np.asarray(obj)
    except (TypeError, ValueError) as exc:
        raise InputError(f"column {name!r}: cannot be read as a column ({exc})") from None
    return _from_numpy(array, name)


def _starts_with_text(obj: Any) -> bool:
    if isinstance(obj, np.ndarray) and (obj.dtype != object or obj.ndim != 1):
        return False
    return len(obj) > 0 and isinstance(obj[0], str)


def verified(col: Column) -> Column:
    """A text column taken on trust, read with every check."""
    if not col.unchecked:
        return col
    values = col.values if isinstance(col.values, np.ndarray) else _object_array(col.values)
    return _from_objects(values, col.name)


def _object_array(seq: list | tuple) -> np.ndarray:
    a = np.empty(len(seq), dtype=object)
    a[:] = seq
    return a


def _as_series(obj: Any) -> Any:
    if isinstance(obj, nw.Series):
        return obj
    if isinstance(obj, np.ndarray) or isinstance(obj, (list, tuple)):
        return None
    series = nw.from_native(obj, series_only=True, pass_through=True)
    if isinstance(series, nw.Series):
        return series
    # A bare Arrow array: narwhals reads chunked arrays.
    if hasattr(obj, "__arrow_c_array__") and type(obj).__module__.startswith("pyarrow"):
        import pyarrow as pa

        return nw.from_native(pa.chunked_array([obj]), series_only=True)
    return None


def _unsupported(name: str, what: str) -> InputError:
    return InputError(
        f"column {name!r}: {what} are not supported; convert it to numbers, booleans or text "
        "(for example dates to a number of days), or leave it out"
    )


def _from_series(s: Any, name: str) -> Column:
    dtype = s.dtype
    if dtype == nw.Boolean:
        missing = _null_mask(s)
        values = s.fill_null(False).to_numpy() if missing is not None else s.to_numpy()
        return Column(name, "bool", np.asarray(values, dtype=bool), missing)
    if dtype.is_numeric():
        if dtype == nw.Decimal:
            s = s.cast(nw.Float64)
        values = np.asarray(s.to_numpy())
        if values.dtype == object:  # a backend that keeps nulls as objects
            values = values.astype(np.float64)
        return _numeric(name, values)
    if dtype in (nw.String, nw.Categorical, nw.Enum):
        return _text_from_series(s, name)
    if dtype == nw.Object or dtype == nw.Unknown:
        return _from_numpy(np.asarray(s.to_numpy()), name)
    if dtype.is_temporal():
        raise _unsupported(name, f"dates and times ({dtype})")
    if dtype.is_nested():
        raise _unsupported(name, f"nested values ({dtype})")
    raise _unsupported(name, f"values of type {dtype}")


def _null_mask(s: Any) -> np.ndarray | None:
    if s.null_count() == 0:
        return None
    return np.asarray(s.is_null().to_numpy(), dtype=bool)


def _numeric(name: str, values: np.ndarray) -> Column:
    missing = None
    # A sum is NaN when any value is (or when infinities cancel): one cheap
    # pass decides whether the mask is needed.
    if values.dtype.kind == "f" and values.size and np.isnan(np.sum(values)):
        nan = np.isnan(values)
        if nan.any():
            missing = nan
    return Column(name, "numeric", values, missing)


def _from_numpy(a: np.ndarray, name: str) -> Column:
    if a.ndim == 2 and a.shape[1] == 1:
        a = a[:, 0]
    if a.ndim != 1:
        raise InputError(
            f"column {name!r}: expected one value per row, got an array of shape {a.shape}; "
            "pass one column (a 1-D array or shape (n, 1))"
        )
    kind = a.dtype.kind
    if kind in "iuf":
        if not a.dtype.isnative:
            a = a.astype(a.dtype.newbyteorder("="))
        if kind == "f" and a.dtype.itemsize < 4:
            a = a.astype(np.float32)
        return _numeric(name, a)
    if kind == "b":
        return Column(name, "bool", a, None)
    if kind == "U":
        return Column(name, "text", labels_from_unicode(a), None)
    if kind == "O":
        return _from_objects(a, name)
    if kind in "Mm":
        raise _unsupported(name, f"dates and times ({a.dtype})")
    if kind == "S":
        raise InputError(f"column {name!r}: bytes labels; decode them to str first")
    raise _unsupported(name, f"values of dtype {a.dtype}")


def _from_sequence(seq: list | tuple, name: str) -> Column:
    try:
        a = np.asarray(seq)
    except ValueError:
        raise InputError(f"column {name!r}: nested lists are not supported; pass one value per row") from None
    if a.dtype.kind == "U":
        # Keeps the caller's str objects (and lets a mix of text and numbers,
        # which NumPy would turn into text, be refused).
        a = _object_array(seq)
    return _from_numpy(a, name)


def _object_missing(a: np.ndarray) -> np.ndarray:
    try:
        return np.asarray((a == None) | (a != a), dtype=bool)  # noqa: E711 - elementwise
    except (TypeError, ValueError):
        # Values that refuse comparison (pd.NA): ask each one once, in C.
        return np.frompyfunc(_is_missing_scalar, 1, 1)(a).astype(bool)


def _is_missing_scalar(v: Any) -> bool:
    if v is None:
        return True
    try:
        return bool(v != v)
    except (TypeError, ValueError):
        return True  # pd.NA and friends: a missing marker that has no truth value


def _from_objects(a: np.ndarray, name: str) -> Column:
    missing = _object_missing(a)
    any_missing = bool(missing.any())
    present = a[~missing] if any_missing else a
    try:
        probe = np.asarray(present.tolist())
    except ValueError:
        raise InputError(f"column {name!r}: nested lists are not supported; pass one value per row") from None
    if probe.ndim != 1 and present.size:
        raise InputError(f"column {name!r}: nested lists are not supported; pass one value per row")
    if not present.size:  # no value at all: nothing says text, numbers read the missing rows
        return Column(name, "numeric", np.full(a.shape[0], np.nan), missing if any_missing else None)
    kind = probe.dtype.kind
    if kind == "U":
        values = a
        if any_missing:
            values = a.copy()
            values[missing] = None
        return Column(name, "text", values, missing if any_missing else None)
    if kind in "iuf":
        if any_missing:
            values = np.full(a.shape[0], np.nan)
            values[~missing] = probe
            return Column(name, "numeric", values, missing)
        return _numeric(name, probe)
    if kind == "b":
        values = np.zeros(a.shape[0], dtype=bool)
        values[~missing] = probe
        return Column(name, "bool", values, missing if any_missing else None)
    if kind in "Mm":
        raise _unsupported(name, "dates and times")
    raise InputError(
        f"column {name!r}: mixes values of different kinds (for example text and numbers); "
        "give the column one kind of value"
    )


# ---------------------------------------------------------------------------
# Text labels
#
# The native drift faces take sequences of str. Building them must not cost a
# Python str per row where the source stores each label once: categoricals and
# Arrow dictionaries become an object array that repeats the few label
# objects. Plain '<U' arrays still pay one str per row; that one step lives in
# labels_from_unicode until the native faces read such arrays themselves.


def labels_from_unicode(a: np.ndarray) -> np.ndarray:
    """An object array of str holding the labels of a NumPy '<U' array."""
    return a.astype(object)


def _label_table(labels: list[Any], name: str) -> np.ndarray:
    """The few distinct labels as an object array with a trailing None, so
    that taking index -1 gives a missing row."""
    table = np.empty(len(labels) + 1, dtype=object)
    for i, v in enumerate(labels):
        if not isinstance(v, str):
            raise InputError(f"column {name!r}: a categorical of non-text categories; cast it to numbers or text")
        table[i] = v
    return table


def _text_from_series(s: Any, name: str) -> Column:
    native = nw.to_native(s)
    # pandas keeps str objects already (object dtype) or codes + categories.
    if s.implementation.is_pandas_like():
        ndt = getattr(native, "dtype", None)
        if ndt is not None and getattr(ndt, "name", "") == "category":
            codes = np.asarray(native.cat.codes.to_numpy(), dtype=np.intp)
            table = _label_table(list(native.cat.categories), name)
            missing = codes < 0
            return Column(name, "text", table[codes], missing if missing.any() else None)
        if ndt == object:
            values = np.asarray(native.to_numpy(), dtype=object)
            return _text_column(name, values, _null_mask(s))
    try:
        import pyarrow as pa  # noqa: F401 - optional: the fast path for Arrow-backed text
    except ImportError:
        return _text_column(name, np.asarray(s.to_numpy(), dtype=object), _null_mask(s))
    return _text_from_arrow(s.to_arrow(), name)


def _text_column(name: str, values: np.ndarray, missing: np.ndarray | None) -> Column:
    if missing is not None:
        values = values.copy()
        values[missing] = None
    return Column(name, "text", values, missing)


def _text_from_arrow(arr: Any, name: str) -> Column:
    import pyarrow as pa

    if isinstance(arr, pa.ChunkedArray):
        arr = arr.unify_dictionaries() if pa.types.is_dictionary(arr.type) else arr
        chunks = arr.chunks
    else:
        chunks = [arr]
    if not chunks:
        return Column(name, "text", np.empty(0, dtype=object), None)
    if not pa.types.is_dictionary(chunks[0].type):
        combined = pa.concat_arrays(chunks) if len(chunks) > 1 else chunks[0]
        chunks = [combined.dictionary_encode()]
    dictionary = chunks[0].dictionary
    table = _label_table(dictionary.to_pylist(), name)
    codes = np.concatenate(
        [np.asarray(c.indices.fill_null(-1).to_numpy(zero_copy_only=False), dtype=np.intp) for c in chunks]
    )
    missing = codes < 0
    return Column(name, "text", table[codes], missing if missing.any() else None)


def as_label_list(values: np.ndarray | list) -> list:
    """The labels as a list, the sequence the native faces read in place."""
    return values if isinstance(values, list) else values.tolist()


# ---------------------------------------------------------------------------
# Conversions for the native faces


def as_float64(values: np.ndarray) -> np.ndarray:
    """A contiguous float64 array of `values` (the array itself if it is one)."""
    return np.ascontiguousarray(values, dtype=np.float64)


def check_missing_policy(missing: str) -> str:
    if missing not in MISSING_POLICIES:
        raise ValueError(f"missing must be one of {MISSING_POLICIES}, not {missing!r}")
    return missing


def rows_to_keep(columns: list[Column], missing: str, context: str) -> np.ndarray | None:
    """The rows where no column is missing (None when all are kept). Under
    ``missing="error"`` any missing value raises, naming the column."""
    masks = [c.missing for c in columns if c.missing is not None]
    if not masks:
        return None
    if missing == "error":
        first = next(c for c in columns if c.missing is not None)
        raise InputError(
            f"{context}: column {first.name!r} has {first.n_missing} missing values (NaN, None or null); "
            "fill or drop them, or pass missing='drop' to leave those rows out"
        )
    drop = masks[0] if len(masks) == 1 else np.logical_or.reduce(masks)
    return ~drop


def take(values: np.ndarray, keep: np.ndarray | None) -> np.ndarray:
    return values if keep is None else np.asarray(values, dtype=values.dtype if isinstance(values, np.ndarray)
                                                  else object)[keep]


def check_lengths(columns: list[Column], context: str) -> int:
    lengths = {c.name: len(c) for c in columns}
    if len(set(lengths.values())) > 1:
        detail = ", ".join(f"{k!r}: {v}" for k, v in lengths.items())
        raise InputError(f"{context}: columns differ in length ({detail}); pass rows that belong together")
    return next(iter(lengths.values()), 0)


# ---------------------------------------------------------------------------
# Continuous or discrete: the rule the native labeling uses for numeric arrays

_HEURISTIC_DEFAULT = np.float32(0.05)
_heuristic: np.float32 | None = None
_DECIMAL = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?")
_WORD = re.compile(r"[+-]?(?:inf|infinity|nan)", re.IGNORECASE)


def _parse_f32(text: str) -> np.float32 | None:
    """A decimal as the nearest 32-bit float (one rounding, as the native
    configuration reader does), or None for text outside its grammar."""
    if _WORD.fullmatch(text):
        return np.float32(float(text))
    if not _DECIMAL.fullmatch(text):
        return None
    exact = Fraction(text)
    with np.errstate(over="ignore"):
        nearest = np.float32(float(exact))
    if not np.isfinite(nearest):
        # Rounding to the largest float or to infinity is decided exactly.
        top = Fraction(float(np.finfo(np.float32).max))
        half_ulp = Fraction(2) ** (127 - 24)
        return np.float32(np.copysign(np.inf, float(exact))) if abs(exact) >= top + half_ulp else np.float32(
            np.copysign(float(top), float(exact))
        )
    # float() rounded once to 53 bits; settle the 24-bit rounding exactly.
    below, above = np.nextafter(nearest, np.float32(-np.inf)), np.nextafter(nearest, np.float32(np.inf))
    for other in (below, above):
        if not np.isfinite(other):
            continue
        d_other, d_near = abs(Fraction(float(other)) - exact), abs(Fraction(float(nearest)) - exact)
        if d_other < d_near or (d_other == d_near and int(other.view(np.uint32)) % 2 == 0):
            nearest = other
    return nearest


def distribution_heuristic() -> np.float32:
    """The distinct-to-total ratio above which a numeric column is continuous.

    Read once, like the native module reads it: the environment variable
    QUORVANT_DISTRIBUTION_HEURISTIC as a whole decimal (no blanks), else 0.05.
    """
    global _heuristic
    if _heuristic is None:
        raw = os.environ.get("QUORVANT_DISTRIBUTION_HEURISTIC")
        value = _parse_f32(raw) if raw is not None else None
        _heuristic = _HEURISTIC_DEFAULT if value is None else value
    return _heuristic


def is_continuous(values: np.ndarray) -> bool:
    """The native rule on numeric values: fewer than 4 distinct values is
    discrete; otherwise continuous when distinct / total, in 32-bit floats,
    exceeds the heuristic. Floats count distinct bit patterns."""
    n = values.shape[0]
    if n < 4:
        return False
    keys = values.view(np.uint64) if values.dtype == np.float64 else values
    if values.dtype.kind == "f" and values.dtype != np.float64:
        keys = values.astype(np.float64).view(np.uint64)
    heuristic = distribution_heuristic()

    def ratio_above(k: int) -> bool:
        return bool(k >= 4 and np.float32(k) / np.float32(n) > heuristic)

    def distinct(x: np.ndarray) -> int:
        x = np.sort(x)
        return int(x.size and 1 + np.count_nonzero(x[1:] != x[:-1]))

    # Most continuous columns show it in a prefix just past the bound.
    bound = int(min(n, np.ceil(float(heuristic) * n) + 2)) if np.isfinite(heuristic) and heuristic > 0 else n
    if bound < n and ratio_above(distinct(keys[:bound])):
        return True
    return ratio_above(distinct(keys))
