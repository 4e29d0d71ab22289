"""Results pinned bit for bit on fixed data (see pinned_cases.py): any
change of summation order, conversion, quartile selection or binning in the
fast paths shows up here as a changed bit."""

from __future__ import annotations

import json

import pytest

import pinned_cases as pc

PINNED = json.loads(pc.FIXTURE.read_text())
SECTIONS = {
    "regression": pc.regression_results,
    "continuous": pc.drift_results,
    "categorical": pc.categorical_results,
    "bias": pc.bias_results,
}


@pytest.mark.parametrize("section", sorted(SECTIONS))
def test_results_are_bit_identical_to_the_pinned_ones(section):
    got = SECTIONS[section]()
    want = PINNED[section]
    assert sorted(got) == sorted(want)
    changed = [name for name in want if got[name] != want[name]]
    assert not changed, f"results changed for {changed[:10]} ({len(changed)} cases)"
