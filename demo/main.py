"""The main job: builds a page of thousands of elements, writes its HTML,
checks that the native walk (Element.render) and the template engine give the
same bytes, then times serialization three ways: the native walk, the same
walk in Python over the accelerators (render_python) and the template engine
for every element (reference.render), in interleaved rounds of short batches
as the page benchmark does, so that a change of the machine's speed touches
all three alike: first in the process as it starts, then with the allocator
tuned to keep freed memory. Where headless Chromium is installed, it then takes a
picture of the page."""

import argparse
import sys

import headless
from vora.uix import reference
from vora.uix.element import render_python
from page import build_page, count_elements
from page_timing import keep_freed_memory, measure_renders


class ProgressBar:
    """A text progress bar on stderr, redrawn at most every hundredth."""

    def __init__(self, total, label, width=40):
        self.total, self.label, self.width = total, label, width
        self.done = 0
        self.step = max(1, total // 100)

    def __call__(self):
        self.done += 1
        if self.done % self.step == 0 or self.done == self.total:
            filled = self.width * self.done // self.total
            bar = "#" * filled + "-" * (self.width - filled)
            print(f"\r  {self.label} [{bar}] {100 * self.done // self.total:3d}%",
                  end="", file=sys.stderr, flush=True)

    def close(self):
        print(file=sys.stderr)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--rows", type=int, default=1000, help="rows of the order table")
    parser.add_argument("--fields", type=int, default=24, help="filters of the search form")
    parser.add_argument("--out", default="build/page.html", help="where to write the page")
    parser.add_argument("--screenshot", default="build/page.png", metavar="FILE",
                        help="where to save a picture of the page as headless Chromium "
                             "shows it ('' for none)")
    parser.add_argument("--window", default="1024x768", metavar="WxH",
                        help="size of the browser window for the picture")
    args = parser.parse_args(argv)

    page = build_page(args.rows, args.fields)
    elements = count_elements(page)
    print(f"page of {elements} elements")

    markup = page.render()
    with open(args.out, "w", encoding="utf-8") as out:
        out.write(markup)
    print(f"wrote {len(markup.encode())} bytes of HTML to {args.out}")

    bar = ProgressBar(elements, "template engine")
    engine_markup = reference.render(page, bar)
    bar.close()
    if engine_markup != markup:
        print("MISMATCH: the native walk's markup differs from the template engine's",
              file=sys.stderr)
        return 1
    print("the native walk's markup is identical to the template engine's, byte for byte")
    del markup, engine_markup  # not kept through the timings, as the benchmark keeps none

    renders = [page.render, lambda: render_python(page), lambda: reference.render(page)]
    print("best call of each, timed in interleaved rounds for about 4 s, in this process as "
          "it starts (glibc's allocator as it comes):")
    report(measure_renders(renders, elements, 4.0), elements)
    if keep_freed_memory():
        print("tuned, the allocator keeping freed memory (keep_freed_memory), 4 s more:")
        report(measure_renders(renders, elements, 4.0), elements)

    if args.screenshot:
        screenshot(args.out, args.screenshot, args.window)
    return 0


def report(timings, elements):
    native = timings[0][0]
    for label, (per_element, pages) in zip(("native walk:", "Python walk:", "template engine:"),
                                           timings):
        print(f"  {label:17}{per_element * elements / 1e6:8.2f} ms  ({per_element:7.0f} ns per "
              f"element, {pages:4.0f} fresh pages of memory a call)  "
              f"{per_element / native:5.1f}x the native walk's time")


def screenshot(page, out, window):
    """Saves a picture of the page file as headless Chromium shows it in a
    window of the given size, or says why there is none."""
    reason = headless.missing()
    if reason:
        print(f"no picture of the page: {reason}")
        return
    width, height = (int(n) for n in window.split("x"))
    with headless.Chromium(width, height) as browser:
        browser.open(page)
        browser.driver.save_screenshot(out)
    print(f"saved a {width}x{height} picture of the page to {out}")


if __name__ == "__main__":
    sys.exit(main())
