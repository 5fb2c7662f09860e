"""Whole pages, 10 to 100,000 elements, in ns per element, three ways side by
side: the native walk (Element.render, one call for the page), the same walk
written in Python over the public accelerators (render_python, the element
code before the native walk), and the template engine for every element
(reference.render); with the fresh pages of memory one native render takes
and its peak of memory against the size of the markup it returns. First in
the process as it starts (glibc's allocator as users get it), then with the
allocator tuned to keep freed memory (keep_freed_memory)."""

import gc
import os
import sys
import tracemalloc

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "demo"))

from page import build_page, count_elements  # noqa: E402
from page_timing import keep_freed_memory, measure_renders  # noqa: E402
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


def measure_sizes(title, with_memory):
    """The three paths on each page size: {elements: (native, walk, engine,
    native's fresh pages, peak / markup)}."""
    print(f"\n{title}")
    print(f"{'elements':>9}  {'native':>8}  {'Python walk':>11}  {'engine':>8}  {'vs walk':>7}  "
          f"{'vs engine':>9}  {'fresh pages':>11}  {'peak/markup':>11}")
    print(f"{'':>9}  {'ns/element':>8}  {'ns/element':>11}  {'ns/element':>8}  {'':>7}  {'':>9}  "
          f"{'a render':>11}")
    rows = {}
    for table_rows, fields in SIZES:
        page = build_page(table_rows, fields)
        elements = count_elements(page)
        markup = page.render()
        assert markup == render_python(page) == reference.render(page)
        del markup
        memory = peak_memory(page.render) if with_memory else None
        (native, pages), (walk, _), (engine, _) = measure_renders(
            [page.render, lambda: render_python(page), lambda: reference.render(page)],
            elements, 3.0)
        ratio = memory[0] / memory[1] if memory else float("nan")
        rows[elements] = native, walk, engine, pages, ratio
        print(f"{elements:9d}  {native:8.0f}  {walk:11.0f}  {engine:8.0f}  {walk / native:6.1f}x  "
              f"{engine / native:8.1f}x  {pages:11.0f}  {ratio:10.2f}x")
        del page
        gc.collect()
    return rows


def main():
    stock = measure_sizes("stock process: glibc's allocator as it comes", True)
    tuned = (measure_sizes("tuned: the allocator keeps freed memory (keep_freed_memory)", False)
             if keep_freed_memory() else None)

    main_job = count_elements(build_page(*MAIN_JOB))
    typical = min(stock, key=lambda n: abs(n - 1000))
    largest = max(stock)
    native, walk, engine, pages, _ = stock[main_job]
    print()
    ok = goal(f"stock: native walk at least 20x the template engine per element on the main "
              f"job's page of {main_job:,} elements ({engine / native:.1f}x)", engine / native >= 20)
    ok &= goal(f"stock: native walk at least 3x the Python walk on the main job's page "
               f"({walk / native:.1f}x)", walk / native >= 3)
    ok &= goal(f"stock: at most 16 fresh pages of memory a native render of the main job's page "
               f"({pages:.0f})", pages <= 16)
    native_l, _, engine_l, _, _ = stock[largest]
    ok &= goal(f"stock: native walk at least 15x the template engine on the {largest:,}-element "
               f"page ({engine_l / native_l:.1f}x)", engine_l / native_l >= 15)
    if tuned:
        native_t, walk_t, engine_t, _, _ = tuned[main_job]
        ok &= goal(f"tuned: native walk at least 24x the template engine and 3.5x the Python walk "
                   f"on the main job's page ({engine_t / native_t:.1f}x, {walk_t / native_t:.1f}x)",
                   engine_t / native_t >= 24 and walk_t / native_t >= 3.5)
    # A page that outgrows the processor's caches waits on memory for every
    # element: a guard against worse, not a goal of flatness.
    flat = stock[largest][0] / stock[typical][0]
    ok &= goal(f"stock: {largest:,} elements cost at most 1.6x per element what {typical:,} cost "
               f"({flat:.2f}x)", flat <= 1.6)
    # A small page's peak is mostly the template engine's fixed cost for the
    # page's own template; the goal is for pages of the typical size and up.
    heaviest = max(row[4] for n, row in stock.items() if n >= typical)
    ok &= goal(f"one render's peak memory at most 2x its markup's size, pages of {typical:,} "
               f"elements and up (at most {heaviest:.2f}x)", heaviest <= 2)
    print("\nall goals met" if ok else "\nsome goals MISSED")


if __name__ == "__main__":
    main()
