"""The one measure of a page's render speed that the main job and the page
benchmark (bench/bench_page.py) share."""

import gc
import time


def best_ns_per_element(renders, elements, seconds, batch=0.02):
    """The best time of one call of each render, in ns per element, from
    rounds that take the renders in turn (so a change of load touches all
    alike), at least three, for about `seconds`. In a round each render runs
    for about `batch` seconds, so that it runs in the caches it left, as a
    page server would."""
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
