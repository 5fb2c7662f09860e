"""Side-by-side timing for the benchmarks: statements timed interleaved, best of N rounds.

Each statement runs in timeit's own loop (no wrapper function around it), so a
row's ns/call is the statement's cost plus the loop's few ns, the same for
every row. Rounds alternate between the statements of a group, so a change of
machine load during the run touches all of them alike; the best round of each
is kept, as the least disturbed one.
"""

import math
import sys
import timeit
from dataclasses import dataclass, field


@dataclass
class Case:
    """One timed statement: `stmt` evaluated with the names of `env`."""

    name: str
    stmt: str
    env: dict = field(default_factory=dict)
    setup: str = "pass"


def _calibrate(timer, seconds):
    """The number of loops that takes about `seconds`."""
    number = 1
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= seconds / 10:
            return max(1, int(number * seconds / elapsed))
        number *= 10


def measure(cases, rounds=7, seconds=0.02):
    """ns per call of each case: the best of `rounds` interleaved rounds of ~`seconds` each."""
    timers = [timeit.Timer(c.stmt, c.setup, globals=c.env) for c in cases]
    numbers = [_calibrate(t, seconds) for t in timers]
    best = [math.inf] * len(cases)
    for _ in range(rounds):
        for i, (timer, number) in enumerate(zip(timers, numbers)):
            best[i] = min(best[i], timer.timeit(number) / number)
    return [b * 1e9 for b in best]


def compare(title, cases, baseline=0, rounds=7, out=sys.stdout):
    """Times `cases` side by side and prints ns/call with each one's ratio to the baseline row.

    The ratio is baseline ns / case ns: how many times faster than the baseline
    a case runs (the baseline itself shows 1.00). Returns the ns/call list.
    """
    ns = measure(cases, rounds)
    width = max(len(c.name) for c in cases)
    print(f"\n{title}", file=out)
    print(f"  {'':{width}}  {'ns/call':>9}  {'ratio':>8}", file=out)
    for case, value in zip(cases, ns):
        ratio = ns[baseline] / value
        print(f"  {case.name:{width}}  {value:9.1f}  {ratio:7.2f}x", file=out)
    return ns


def goal(text, ok, out=sys.stdout):
    """Prints one speed goal and whether it is met; returns ok."""
    print(f"  {'met:' if ok else 'MISSED:'} {text}", file=out)
    return ok
