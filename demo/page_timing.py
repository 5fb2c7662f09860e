"""The one measure of a page's render speed that the main job and the page
benchmark (bench/bench_page.py) share: best time per element and fresh pages
of memory per render, in a stock process first, then with the allocator
tuned to keep what is freed."""

import ctypes
import gc
import resource
import statistics
import time

# glibc's mallopt parameters.
_M_TRIM_THRESHOLD = -1
_M_MMAP_THRESHOLD = -3


def keep_freed_memory():
    """Has glibc's allocator keep the memory that is freed, for the rest of
    the process: the tuned figure, never the first one. By default it maps
    every block above a threshold afresh and unmaps it when freed, and gives
    the top of its heap back, with thresholds that move with what the
    process freed before; a page of fresh memory costs about 10 us on a
    virtual machine whose host takes freed memory back. With the memory
    kept, every path reuses what it freed. False where the C library has no
    mallopt."""
    mallopt = getattr(ctypes.CDLL(None), "mallopt", None)
    if mallopt is None:
        return False
    return bool(mallopt(_M_MMAP_THRESHOLD, 32 << 20) and mallopt(_M_TRIM_THRESHOLD, 1 << 30))


def fresh_pages():
    """Pages of memory the process has touched for the first time since the
    system handed them over (its minor page faults), so far."""
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt


def measure_renders(renders, elements, seconds, batch=0.02):
    """For each render: the best time of one call, in ns per element, and
    the median of the fresh pages of memory one call took, from rounds that
    take the renders in turn (so a change of load touches all alike), at
    least three, for about `seconds`. In a round each render runs for about
    `batch` seconds, so that it runs in the caches it left, as a page server
    would. The allocator is left as the process has it."""
    # What the caller left for the collector (the engine's garbage, say)
    # would be collected during some render's batch and not another's.
    gc.collect()
    best = [float("inf")] * len(renders)
    pages = [[] for _ in renders]
    start, rounds = time.perf_counter(), 0
    while rounds < 3 or time.perf_counter() - start < seconds:
        for i, render in enumerate(renders):
            batch_start = time.perf_counter()
            while True:
                before = fresh_pages()
                t0 = time.perf_counter()
                render()
                t1 = time.perf_counter()
                pages[i].append(fresh_pages() - before)
                best[i] = min(best[i], t1 - t0)
                if t1 - batch_start >= batch:
                    break
        rounds += 1
    return [(b / elements * 1e9, statistics.median(p)) for b, p in zip(best, pages)]
