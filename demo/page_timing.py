"""The one measure of a page's render speed that the main job and the page
benchmark (bench/bench_page.py) share."""

import ctypes
import gc
import time

# glibc's mallopt parameters.
_M_TRIM_THRESHOLD = -1
_M_MMAP_THRESHOLD = -3


def keep_freed_memory():
    """Has glibc's allocator keep the memory that is freed, for the rest of
    the process. By default it maps every block above a threshold afresh
    and unmaps it when freed, and gives the top of its heap back, with
    thresholds that move with what the process freed before. A large page's
    renders make such blocks (the template engine's bytes of the whole page
    for its shell, and their decoding), so whether a render pays for some
    250 pages of fresh memory or none changes with the history of the
    process, and on a virtual machine whose host takes freed memory back a
    page of fresh memory costs about 12 us: 3 ms a render, more than the
    native walk itself. Timed with the memory kept, every path reuses what
    it freed, as a server's steady state does. False where the C library
    has no mallopt."""
    mallopt = getattr(ctypes.CDLL(None), "mallopt", None)
    if mallopt is None:
        return False
    return bool(mallopt(_M_MMAP_THRESHOLD, 32 << 20) and mallopt(_M_TRIM_THRESHOLD, 1 << 30))


def best_ns_per_element(renders, elements, seconds, batch=0.02):
    """The best time of one call of each render, in ns per element, from
    rounds that take the renders in turn (so a change of load touches all
    alike), at least three, for about `seconds`. In a round each render runs
    for about `batch` seconds, so that it runs in the caches it left, as a
    page server would, and the allocator keeps the memory freed
    (keep_freed_memory)."""
    keep_freed_memory()
    # What the caller left for the collector (the engine's garbage, say)
    # would be collected during some render's batch and not another's.
    gc.collect()
    best = [float("inf")] * len(renders)
    start, rounds = time.perf_counter(), 0
    while rounds < 3 or time.perf_counter() - start < seconds:
        for i, render in enumerate(renders):
            batch_start = time.perf_counter()
            while True:
                t0 = time.perf_counter()
                render()
                t1 = time.perf_counter()
                best[i] = min(best[i], t1 - t0)
                if t1 - batch_start >= batch:
                    break
        rounds += 1
    return [b / elements * 1e9 for b in best]
