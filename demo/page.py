"""A realistic page: a search form and a data table, thousands of elements."""

from vora.uix.widgets import Button, Cell, Div, Form, Heading, Input, Label, Page, Row, Table

COLUMNS = ("Order", "Customer", "City", "Items", "Total", "Status")
CITIES = ("Lyon", "Zürich", "Kraków", "São Paulo", "Ōsaka", "Austin")
STATUSES = ("open", "paid", "shipped", "returned")


def search_form(fields):
    rows = []
    for i in range(fields):
        name = f"field{i}"
        rows.append(Div(
            Label(text=f"Filter {i} <{name}>", html_for=name),
            Input(name=name, placeholder=f'e.g. "{name}" & more', maxlength=64,
                  required=i % 3 == 0, spellcheck=i % 2 == 0, type="text"),
            margin=[0, 0, "8px", 0]))
    rows.append(Button(text="Search", type="submit", kind="primary", font_size=14,
                       onclick=True, title='Search "all" orders'))
    return Form(*rows, action="/orders/search", onsubmit=True)


def order_table(rows):
    table = Table(Row(*(Cell(name) for name in COLUMNS)), striped=True,
                  data_columns=list(COLUMNS))
    for n in range(rows):
        table.children.append(Row(
            Cell(f"#{10000 + n}"),
            Cell(f"Customer {n % 97} & Sons"),
            Cell(CITIES[n % len(CITIES)]),
            Cell(n % 7 + 1, align="right"),
            Cell(f"{(n * 37) % 1000 + 0.5:.2f} €", align="right"),
            Cell(STATUSES[n % len(STATUSES)]),
            selected=n % 10 == 0, onclick=True))
    return table


def build_page(rows=1000, fields=24):
    """The page: a heading, the form with `fields` filters, and the table of
    `rows` orders (7 elements a row)."""
    return Page(
        Heading(text="Orders & invoices", color=[20, 40, 80]),
        Div(search_form(fields), width=480, align="left"),
        Div(order_table(rows), margin="auto"),
        title="Orders <2026>", background_color="#f8f8ff", padding="8px 16px")


def count_elements(element):
    return 1 + sum(count_elements(child) for child in element.children)
