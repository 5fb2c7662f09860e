"""Whole pages, 10 to 100,000 elements, in ns per element, three ways side by
side: the native walk (Element.render, one call for the page), the same walk
written in Python over the public accelerators (render_python, the element
code before the native walk), and the template engine for every element
(reference.render). Then the flatness of the native walk (per element, the
largest page against the one of about 1,000 elements) and the memory one
render takes at its peak against the size of the markup it returns."""

import gc
import os
import sys
import tracemalloc

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "demo"))

from page import build_page, count_elements  # noqa: E402
from page_timing import best_ns_per_element  # noqa: E402
from timing import goal  # noqa: E402
from vora.uix import reference  # noqa: E402
from vora.uix.element import render_python  # noqa: E402

# (table rows, form fields): about 10, 100, 1,000, the main job's 7,086,
# 10,000 and 100,000 elements.
MAIN_JOB = (1000, 24)
SIZES = ((0, 1), (8, 8), (130, 24), MAIN_JOB, (1420, 24), (14280, 24))


def peak_memory(render):
    """The peak of memory allocated during one render, and the size of its result."""
    gc.collect()
    tracemalloc.start()
    try:
        markup = render()
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    return peak, sys.getsizeof(markup)


def main():
    print(f"{'elements':>9}  {'native':>8}  {'Python walk':>11}  {'engine':>8}  "
          f"{'vs walk':>7}  {'vs engine':>9}  {'peak/markup':>11}")
    print(f"{'':>9}  {'ns/element':>8}  {'ns/element':>11}  {'ns/element':>8}")
    rows = {}
    for table_rows, fields in SIZES:
        page = build_page(table_rows, fields)
        elements = count_elements(page)
        if (table_rows, fields) == MAIN_JOB:
            main_job = elements
        markup = page.render()
        assert markup == render_python(page) == reference.render(page)
        del markup
        peak, size = peak_memory(page.render)
        gc.collect()
        native, walk, engine = best_ns_per_element(
            [page.render, lambda: render_python(page), lambda: reference.render(page)],
            elements, 3.0)
        rows[elements] = native, walk, engine, peak / size
        print(f"{elements:9d}  {native:8.0f}  {walk:11.0f}  {engine:8.0f}  "
              f"{walk / native:6.1f}x  {engine / native:8.1f}x  {peak / size:10.2f}x")

    typical = min(rows, key=lambda n: abs(n - 1000))
    largest = max(rows)
    native, walk, engine, memory = rows[main_job]
    flat = rows[largest][0] / rows[typical][0]
    # A small page's peak is mostly the template engine's fixed cost for the
    # page's own template; the goal is for pages of the typical size and up.
    heaviest = max(row[3] for n, row in rows.items() if n >= typical)
    print()
    ok = goal(f"native walk at least 20x the template engine per element on the main job's "
              f"page of {main_job:,} elements ({engine / native:.1f}x)", engine / native >= 20)
    ok &= goal(f"native walk at least 3x the Python walk on the main job's page "
               f"({walk / native:.1f}x)", walk / native >= 3)
    ok &= goal(f"flat: {largest:,} elements cost at most 1.3x per element what {typical:,} "
               f"cost ({flat:.2f}x)", flat <= 1.3)
    ok &= goal(f"one render's peak memory at most 3x its markup's size, pages of "
               f"{typical:,} elements and up (at most {heaviest:.2f}x)", heaviest <= 3)
    print("\nall goals met" if ok else "\nsome goals MISSED")


if __name__ == "__main__":
    main()
