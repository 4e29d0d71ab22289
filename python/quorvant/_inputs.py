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
from fractions import Fraction
from functools import lru_cache
from typing import Any

import narwhals.stable.v2 as nw
import numpy as np

KINDS = ("numeric", "bool", "text")
MISSING_POLICIES = ("drop", "error")


class InputError(ValueError):
    """A table or column the layer cannot read, with what to do about it."""


#: ``missing`` of a float column not looked at yet (see :class:`Column`).
UNSCANNED = object()


class Column:
    """One column as the layer reads it.

    ``values`` is 1-D: integers or floats (``numeric``; missing rows NaN),
    ``bool`` (missing rows False) or an object array of ``str`` (``text``;
    missing rows None). ``missing`` is a bool mask, or None when no row is
    missing; ``n_missing`` its count.

    The NaNs of a float column are looked for once, in one pass, on first
    use of ``missing``, ``n_missing`` or :meth:`present`, so that a caller
    that learns otherwise that none is there (the native continuous
    baseline refuses NaN) can skip the pass: :meth:`known_complete`.

    Text read from a source that stores each label once (categoricals, Arrow
    dictionaries) keeps ``codes`` (an integer array, -1 for a missing row)
    into ``categories`` (the distinct labels), and a NumPy '<U' array is kept
    as ``unicode``: the drift layer counts labels from the codes and hands
    the '<U' array to the native faces as it is (see :func:`native_labels`),
    and the per-row ``values`` (an object array of str) are only built if
    something asks for them.
    """

    __slots__ = ("name", "kind", "unchecked", "codes", "categories", "unicode", "_values", "_missing",
                 "_n_missing", "_present")

    def __init__(self, name: str, kind: str, values: np.ndarray | list | None, missing: Any,
                 unchecked: bool = False, *, codes: np.ndarray | None = None, categories: list[str] | None = None,
                 unicode: np.ndarray | None = None) -> None:
        self.name = name
        self.kind = kind
        #: Text taken on trust from a list or object array: its first value is
        #: a str, the rest was not looked at (see :func:`verified`).
        self.unchecked = unchecked
        self.codes = codes
        self.categories = categories
        self.unicode = unicode
        self._values = values
        self._missing = missing
        self._n_missing = None if missing is UNSCANNED else (0 if missing is None else int(np.count_nonzero(missing)))
        self._present = None

    @property
    def values(self) -> np.ndarray | list:
        if self._values is None:  # built once, on first use
            if self.codes is None:
                self._values = labels_from_unicode(self.unicode)
            else:  # codes into categories: one gather
                table = np.empty(len(self.categories) + 1, dtype=object)
                table[:-1] = self.categories
                self._values = table[self.codes]
        return self._values

    @property
    def missing(self) -> np.ndarray | None:
        if self._missing is UNSCANNED:
            self._scan()
        return self._missing

    @property
    def n_missing(self) -> int:
        if self._missing is UNSCANNED:
            self._scan()
        return self._n_missing

    def _scan(self) -> None:
        values = self._values
        # The minimum is NaN exactly when some value is (NaN propagates
        # through it), and it is the cheapest full pass NumPy offers: the
        # mask is only built when a value is missing.
        nan = np.isnan(values) if values.size and np.isnan(np.minimum.reduce(values)) else None
        self._missing = nan
        self._n_missing = 0 if nan is None else int(np.count_nonzero(nan))

    @property
    def scanned(self) -> bool:
        """Whether the missing rows are known (the scan is done or not needed)."""
        return self._missing is not UNSCANNED

    def known_complete(self) -> None:
        """Records that no row is missing, learnt without a scan."""
        if self._missing is UNSCANNED:
            self._missing, self._n_missing = None, 0

    def present(self) -> np.ndarray | list:
        """The values of the rows that are not missing: the values themselves
        when none is (no copy), else one compaction, done once."""
        if self._present is None:
            values = self.values
            if self.missing is not None:
                values = np.asarray(values, dtype=values.dtype if isinstance(values, np.ndarray) else object)
                values = values[~self.missing]
            self._present = values
        return self._present

    def __len__(self) -> int:
        if self._values is not None:
            return len(self._values)
        return len(self.codes) if self.codes is not None else len(self.unicode)

    def __repr__(self) -> str:
        return f"Column({self.name!r}, {self.kind}, {len(self)} rows)"


# ---------------------------------------------------------------------------
# Tables


class Table:
    """Column access to one input table, whatever library holds it."""

    __slots__ = ("arg", "names", "n_rows", "_frame", "_mapping", "_pandas")

    def __init__(self, data: Any, arg: str) -> None:
        self.arg = arg
        self._frame = None
        self._mapping = None
        self._pandas = None
        if isinstance(data, Mapping):
            self._mapping = data
            self.names = [str(k) for k in data]
            lengths = {name: _length(col, name) for name, col in zip(self.names, data.values())}
            if len(set(lengths.values())) > 1:
                detail = ", ".join(f"{k!r}: {v}" for k, v in lengths.items())
                raise InputError(f"{arg}: columns differ in length ({detail}); give every column the same rows")
            self.n_rows = next(iter(lengths.values()), 0)
            return
        if _is_pandas(data, "DataFrame") and data.columns.nlevels == 1:
            # pandas hands out its columns several times faster than through
            # narwhals (whose wrapping costs more than the column itself), and
            # read_column takes a pandas Series as it is.
            keys = data.columns.tolist()
            names = [str(k) for k in keys]
            if len(set(names)) == len(names):
                self._pandas = (data, dict(zip(names, keys)))
                self.names = names
                self.n_rows = int(data.shape[0])
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
        if self._pandas is not None:
            frame, keys = self._pandas
            return frame[keys[name]]
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
    if _is_pandas(obj, "Series"):
        col = _from_pandas(obj, name)
        if col is not None:
            return col
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


def _is_pandas(obj: Any, kind: str) -> bool:
    """Whether `obj` is a pandas DataFrame or Series (not a subclass), told
    without importing pandas."""
    cls = type(obj)
    return cls.__name__ == kind and cls.__module__.partition(".")[0] == "pandas"


def _from_pandas(s: Any, name: str) -> Column | None:
    """A pandas Series of a NumPy dtype or a categorical, read directly (the
    narwhals path gives the same column at several times the fixed cost);
    None for any other dtype."""
    dtype = s.dtype
    if isinstance(dtype, np.dtype):
        return _from_numpy(s.to_numpy(), name) if dtype.kind in "fiub" else None
    if getattr(dtype, "name", "") == "category":
        return _coded_text(name, s.array.codes, dtype.categories.tolist())
    return None


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
    if s.implementation.is_pandas_like():
        dtype = getattr(nw.to_native(s), "dtype", None)
        if isinstance(dtype, np.dtype) and dtype.kind in "biu":  # a NumPy dtype that holds no missing value
            return None
    if s.null_count() == 0:  # O(1) in Arrow and polars, which keep the count
        return None
    return np.asarray(s.is_null().to_numpy(), dtype=bool)


def _numeric(name: str, values: np.ndarray) -> Column:
    # Integers hold no missing value; floats are scanned for NaN on first use.
    return Column(name, "numeric", values, UNSCANNED if values.dtype.kind == "f" else None)


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
        return Column(name, "text", None, None, unicode=a)
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
# The native drift faces take sequences of str and read a NumPy '<U' array
# natively (no str per row): the drift layer hands them the array itself
# (see native_labels). Categoricals and Arrow dictionaries keep their codes.


def labels_from_unicode(a: np.ndarray) -> np.ndarray:
    """An object array of str holding the labels of a NumPy '<U' array, for
    the code that compares labels in NumPy (the bias masks): NumPy's own
    '<U' comparison ignores trailing NULs of the label it compares with,
    where str comparison does not."""
    return a.astype(object)


def native_labels(col: Column) -> np.ndarray | list | None:
    """The labels of a text column as the native drift faces read them
    without a str per row: a '<U' array itself (either byte order, any
    stride), the row values of an object array or list; None for coded
    text, which is counted from its codes instead."""
    if col.unicode is not None:
        return col.unicode
    if col.codes is not None:
        return None
    return as_label_list(col.present())


def _category_list(labels: list[Any], name: str) -> list[str]:
    """The distinct labels of a categorical or dictionary, checked to be text."""
    for v in labels:
        if not isinstance(v, str):
            raise InputError(f"column {name!r}: a categorical of non-text categories; cast it to numbers or text")
    return labels


def _coded_text(name: str, codes: np.ndarray, categories: list[Any]) -> Column:
    """Text as codes (-1 for a missing row) into the distinct labels."""
    categories = _category_list(categories, name)
    missing = None
    if codes.size and np.minimum.reduce(codes) < 0:
        missing = codes < 0
    return Column(name, "text", None, missing, codes=codes, categories=categories)


def _text_from_series(s: Any, name: str) -> Column:
    native = nw.to_native(s)
    # pandas keeps str objects already (object dtype, or a string dtype of
    # python storage: handed on as they are, cheaper than building Arrow
    # text from them) or codes + categories.
    if s.implementation.is_pandas_like():
        ndt = getattr(native, "dtype", None)
        if ndt is not None and getattr(ndt, "name", "") == "category":
            return _coded_text(name, np.asarray(native.cat.codes.to_numpy()), list(native.cat.categories))
        if ndt == object or getattr(ndt, "storage", None) == "python":
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
    codes = [_indices(c.indices) for c in chunks]
    codes = codes[0] if len(codes) == 1 else np.concatenate(codes)
    return _coded_text(name, codes, dictionary.to_pylist())


def _indices(indices: Any) -> np.ndarray:
    """Dictionary indices as a NumPy array, -1 where the row is null."""
    import pyarrow as pa

    if pa.types.is_unsigned_integer(indices.type):  # -1 needs a signed type
        indices = indices.cast(pa.int64())
    if indices.null_count:
        indices = indices.fill_null(-1)
    return indices.to_numpy(zero_copy_only=False)


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
    refuse_missing(columns, missing, context)
    drop = masks[0] if len(masks) == 1 else np.logical_or.reduce(masks)
    return ~drop


def refuse_missing(columns: list[Column], missing: str, context: str) -> None:
    """Under ``missing="error"``, raises naming the first column with a
    missing value."""
    if missing != "error":
        return
    first = next((c for c in columns if c.missing is not None), None)
    if first is not None:
        raise InputError(
            f"{context}: column {first.name!r} has {first.n_missing} missing values (NaN, None or null); "
            "fill or drop them, or pass missing='drop' to leave those rows out"
        )


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


@lru_cache(maxsize=1024)
def _continuous_bound(n: int, heuristic_bits: int) -> int | None:
    heuristic = np.uint32(heuristic_bits).view(np.float32)
    total = np.float32(n)

    def rule(k: int) -> bool:
        return bool(np.float32(k) / total > heuristic)

    # k / n in 32-bit floats never decreases as k grows: bisect for the
    # first count where the rule holds, evaluating the very same expression.
    if n < 4 or not rule(n):
        return None
    lo, hi = 4, n
    while lo < hi:
        mid = (lo + hi) // 2
        if rule(mid):
            hi = mid
        else:
            lo = mid + 1
    return lo


def continuous_bound(n: int, heuristic: Any = None) -> int | None:
    """The smallest distinct count k (4 <= k <= n) with k / n, in 32-bit
    floats, above the heuristic: n values are continuous exactly when they
    hold at least that many distinct values. None when no count is enough."""
    h = distribution_heuristic() if heuristic is None else np.float32(heuristic)
    return _continuous_bound(int(n), int(np.asarray(h, dtype=np.float32).view(np.uint32)))


def is_continuous(values: np.ndarray, heuristic: Any = None, nan_free: bool = False) -> bool:
    """The native rule on numeric values: fewer than 4 distinct values is
    discrete; otherwise continuous when distinct / total, in 32-bit floats,
    exceeds the heuristic. Floats count distinct bit patterns, and every NaN
    is a new value (`nan_free`: the caller knows there is none).

    The count stops as soon as the answer is known, so most columns never
    pay for a full sort (see :func:`_has_distinct`)."""
    bound = continuous_bound(values.shape[0], heuristic)
    if bound is None:
        return False
    keys, nans = _distinct_keys(values, nan_free)
    return _has_distinct(keys, bound - nans)


def _distinct_keys(values: np.ndarray, nan_free: bool) -> tuple[np.ndarray, int]:
    """Values that are equal exactly when they count as one distinct value
    (the bit pattern of a float, an integer itself), without the NaNs, and
    the number of NaNs (each one a distinct value)."""
    if not values.dtype.isnative:
        values = values.astype(values.dtype.newbyteorder("="))
    if values.dtype.kind != "f":
        return (values.view(np.uint8) if values.dtype == bool else values), 0
    keys = values.view(np.dtype(f"u{values.dtype.itemsize}"))
    if nan_free or not values.size or not np.isnan(np.minimum.reduce(values)):
        return keys, 0
    nan = np.isnan(values)
    return keys[~nan], int(np.count_nonzero(nan))


#: A sample with at most this many distinct values names the values of the
#: column: one comparison pass per value finds the rows outside them.
_FEW = 16
#: Rows of the small sample that looks for such a column.
SAMPLE_ROWS = 256


def _has_distinct(keys: np.ndarray, need: int, depth: int = 0) -> bool:
    """Whether `keys` hold at least `need` distinct values, decided exactly.

    Two facts make the shortcuts exact: the distinct values of a subset are
    at most those of the whole (a sample with `need` of them proves it), and
    with S the distinct values of a subset, the whole holds |S| plus the
    distinct values among the rows outside S (which are at most that many
    rows).
    """
    m = keys.shape[0]
    if need <= 0:
        return True
    if need > m:
        return False
    step = max(1, m // SAMPLE_ROWS)
    picked = keys[::step]
    sample = _distinct_values(picked)
    if sample.size >= need or step == 1:
        return sample.size >= need
    if sample.size <= _FEW and depth < 2:
        # A column of a few values: the rows outside the sample's values.
        outside = keys != sample[0]
        scratch = np.empty_like(outside)
        for v in sample[1:]:
            np.not_equal(keys, v, out=scratch)
            outside &= scratch
        rest = int(np.count_nonzero(outside))
        if rest < need - sample.size:
            return False
        return _has_distinct(keys[outside], need - sample.size, depth + 1)
    size = need + need // 8 + 64
    if sample.size * 8 >= picked.size * 7 and size < m:
        # Nearly every sampled value distinct: most likely continuous, which
        # a part of the rows a little larger than `need` proves.
        if _distinct_count(_folded(_spread_blocks(keys, size)), in_place=True) >= need:
            return True
    # Integer keys (float bit patterns too) close together: mark them.
    counted = _range_count(keys)
    return (counted if counted is not None else _distinct_count(keys)) >= need


def _spread_blocks(keys: np.ndarray, size: int) -> np.ndarray:
    """About `size` rows of `keys` in eight contiguous blocks spread over it
    (contiguous reads; spread so that rows sorted or grouped by something
    else are still sampled across)."""
    block = -(-size // 8)
    room = keys.shape[0] - block
    return np.concatenate([keys[room * i // 7:room * i // 7 + block] for i in range(8)])


def _distinct_values(keys: np.ndarray) -> np.ndarray:
    """The distinct values of a small array, ascending (np.unique costs
    several times more at this size)."""
    ordered = np.sort(keys)
    if ordered.size < 2:
        return ordered
    first = np.empty(ordered.shape, dtype=bool)
    first[0] = True
    np.not_equal(ordered[1:], ordered[:-1], out=first[1:])
    return ordered[first]


def _folded(keys: np.ndarray) -> np.ndarray:
    """64-bit keys folded to 32 bits (high half xor low half), which sort in
    half the time. Equal keys fold to equal values, so the folded array holds
    at most as many distinct values: a count reached there is reached by the
    keys (the converse does not hold, so only a proof uses it)."""
    if keys.dtype.itemsize != 8:
        return keys
    halves = keys.view(np.uint32).reshape(-1, 2)
    return np.bitwise_xor(halves[:, 0], halves[:, 1])


def _distinct_count(keys: np.ndarray, in_place: bool = False) -> int:
    if not keys.size:
        return 0
    if in_place:
        keys.sort()
        ordered = keys
    else:
        ordered = np.sort(keys)
    return 1 + int(np.count_nonzero(ordered[1:] != ordered[:-1]))


def _range_count(keys: np.ndarray) -> int | None:
    """The distinct count of integers over a modest range, by marking each
    value's offset from the minimum (None when the range is too wide)."""
    lo, hi = keys.min(), keys.max()
    span = int(hi) - int(lo)
    if span >= max(4 * keys.shape[0], 1024) or span >= 1 << 24:
        return None
    if keys.dtype.itemsize == 8:
        # The difference in the unsigned type wraps to the true one, which
        # lies in [0, span] and so is also a valid intp.
        unsigned = np.dtype(np.uint64)
        offsets = (keys.view(unsigned) - np.asarray(lo, dtype=keys.dtype).view(unsigned)).view(np.intp)
    else:
        offsets = keys.astype(np.intp) - int(lo)
    seen = np.zeros(span + 1, dtype=bool)
    seen[offsets] = True
    return int(np.count_nonzero(seen))
