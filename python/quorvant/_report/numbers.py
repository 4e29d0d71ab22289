"""How the report and the command line write numbers: one function, so a
test can compare every number shown with the result object's number."""

from __future__ import annotations

import math
import numbers

__all__ = ["fmt"]


def fmt(value: object, percent: bool = False) -> str:
    """The text of one number as the report and the terminal tables show it.

    Integers in full with thousands separators; floats to four significant
    digits (exponent form outside 1e-4 to 1e4, thousands separators for large
    values); shares (``percent=True``) as a percentage to one decimal. NaN,
    infinities and None read as such.

    >>> fmt(20000), fmt(0.123456), fmt(1.5e-06), fmt(0.5, percent=True), fmt(float("nan"))
    ('20,000', '0.1235', '1.5e-06', '50.0%', 'NaN')
    """
    if value is None:
        return "–"
    if isinstance(value, bool):
        return "yes" if value else "no"
    if isinstance(value, numbers.Integral):
        return f"{int(value):,}"
    v = float(value)
    if math.isnan(v):
        return "NaN"
    if math.isinf(v):
        return "∞" if v > 0 else "−∞"
    if percent:
        return f"{v * 100:.1f}%"
    if v == 0:
        return "0"
    if 1e4 <= abs(v) < 1e15:
        return f"{v:,.0f}"
    return f"{v:.4g}"
