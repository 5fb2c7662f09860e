import vora.uix._html as html_module


def test_module_is_native():
    assert html_module.__file__.endswith(".so")
