"""Whole pages, 10 to 100,000 elements: the accelerators against the template
engine for every element, in ns per element, with the ratio. The cost per
element should stay flat as the page grows."""

import gc
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "demo"))

from page import build_page, count_elements  # noqa: E402
from timing import goal  # noqa: E402
from vora.uix import reference  # noqa: E402

# (table rows, form fields): about 10, 100, 1,000, 10,000 and 100,000 elements.
SIZES = ((0, 1), (8, 8), (130, 24), (1420, 24), (14280, 24))


def best_ns_per_element(render, elements, seconds):
    best, start, runs = float("inf"), time.perf_counter(), 0
    while runs < 3 or time.perf_counter() - start < seconds:
        t0 = time.perf_counter()
        render()
        best = min(best, time.perf_counter() - t0)
        runs += 1
    return best / elements * 1e9


def main():
    print(f"{'elements':>9}  {'accelerators':>12}  {'template engine':>15}  {'ratio':>7}")
    print(f"{'':>9}  {'ns/element':>12}  {'ns/element':>15}")
    ratios = {}
    for rows, fields in SIZES:
        page = build_page(rows, fields)
        elements = count_elements(page)
        assert page.render() == reference.render(page)
        gc.collect()
        native = best_ns_per_element(page.render, elements, 1.0)
        engine = best_ns_per_element(lambda: reference.render(page), elements, 2.0)
        ratios[elements] = engine / native
        print(f"{elements:9d}  {native:12.0f}  {engine:15.0f}  {engine / native:6.1f}x")
    typical = ratios[min(ratios, key=lambda n: abs(n - 1000))]
    ok = goal(f"accelerators at least 15x the template engine per element on the typical "
              f"page of about 1,000 elements ({typical:.1f}x)", typical >= 15)
    print("\nall goals met" if ok else "\nsome goals MISSED")


if __name__ == "__main__":
    main()
