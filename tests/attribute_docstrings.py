"""The docstrings of the attribute types, as users read them with help()."""

DOCSTRINGS = {
    '_Attribute': (
        'General Html attribute class with a string value.\n'
        '\n'
        '    :Parameters:\n'
        "        `defaultvalue`: string, defaults to ''\n"
        '        Specifies the default value of the attribute.\n'
        "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
        '        `sync`: boolean, relevant for element attributes only, class and style attributes\n'
        '        are always synced. If true the update event is sent to the client when the attribute value is updated.\n'
        '        `options`: list of strings, other possible values which are accepted by the attribute instance.\n'
        '        For example some numeric attributes can accept also string values like `inherit`\n'
        "        'values': list of values relevant for options. This list contain actual values which are sent to frontend when\n"
        '        the property value is set to one of optional values. If `values` list is not set, it is equal to `options`\n'
        '    '
    ),
    '_NumericAttribute': (
        'Html attribute class with a numeric value.\n'
        '\n'
        '    :Parameters:\n'
        '        `defaultvalue`: numeric, defaults to 0.0\n'
        '        Specifies the default value of the attribute.\n'
        "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
        '        `sync`: boolean, relevant for element attributes only, class and style attributes\n'
        '        are always synced. If true the update event is sent to the client when the attribute value is updated.\n'
        '        `options`: list of strings, other possible values which are accepted by the attribute instance.\n'
        '        For example some numeric attributes can accept also string values like `inherit`\n'
        "        `units`: valid CSS metric default units: 'px', 'mm', '%', etc. or empty\n"
        '    '
    ),
    '_BoundedNumericAttribute': (
        'Html attribute class with a bounded numeric value.\n'
        '\n'
        '    :Parameters:\n'
        '        `defaultvalue`: numeric, defaults to 0.0\n'
        '        Specifies the default value of the attribute.\n'
        "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
        '        `sync`: boolean, relevant for element attributes only, class and style attributes\n'
        '        are always synced. If true the update event is sent to the client when the attribute value is updated.\n'
        '        `options`: list of strings, other possible values which are accepted by the attribute instance.\n'
        '        For example some numeric attributes can accept also string values like `inherit`\n'
        '        `min`: accepted minimum value\n'
        '        `max`: accepted maximum value\n'
        '\n'
        '    '
    ),
    '_BooleanAttribute': (
        'Boolean Html attribute class which returns `attrname` as the\n'
        '         return value when its true and empty string when its false.\n'
        '\n'
        '    :Parameters:\n'
        '        `defaultvalue`: boolean, defaults to false\n'
        '        Specifies the default value of the attribute.\n'
        "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
        '        `sync`: boolean, relevant for element attributes only, class and style attributes\n'
        '        are always synced. If true the update event is sent to the client when the attribute value is updated.\n'
        '    '
    ),
    '_LogicalAttribute': (
        "Logical html attribute class which returns 'true' or 'false' as string type and empty string when it is None.\n"
        '\n'
        '    :Parameters:\n'
        '        `defaultvalue`: boolean, defaults to False\n'
        '        Specifies the default value of the attribute.\n'
        "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
        '        `sync`: boolean, relevant for element attributes only, class and style attributes\n'
        '        are always synced. If true the update event is sent to the client when the attribute value is updated.\n'
        '    '
    ),
    '_ListAttribute': (
        'List html attribute class which returns comma separated list of values as strings.\n'
        '\n'
        '    :Parameters:\n'
        '        `defaultvalue`: list, defaults to []\n'
        '        Specifies the default value of the attribute.\n'
        "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
        '        `sync`: boolean, relevant for element attributes only, class and style attributes\n'
        '        are always synced. If true the update event is sent to the client when the attribute value is updated.\n'
        '    '
    ),
    '_VariableListAttribute': (
        'A ListAttribute that allows you to work with a variable number of\n'
        '    list items and to expand them to the desired list size.\n'
        '\n'
        '    For example, style attributes like `margin` or `padding` can accept one numeric value\n'
        '    which was applied equally to the left, top, right and bottom.\n'
        '    Now padding or margin can be given one, two or four values, which are\n'
        '    expanded into a length four list [left, top, right, bottom] and stored\n'
        '    in the attribute.\n'
        '\n'
        '    :Parameters:\n'
        '        `defaultvalue`: list, defaults to []\n'
        '        Specifies the default value of the attribute.\n'
        "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
        '        `sync`: boolean, relevant for element attributes only, class and style attributes\n'
        '        are always synced. If true the update event is sent to the client when the attribute value is updated.\n'
        '        `options`: list of strings, other possible values which are accepted by the attribute instance\n'
        '        For example some numeric attributes can accept also string values like `inherit`.\n'
        '    '
    ),
    '_ColorAttribute': (
        'A ListAttribute with 3 or 4 elements with RGB or RGBA color values.\n'
        '\n'
        '    :Parameters:\n'
        '        `defaultvalue`: list, defaults to None\n'
        '        Specifies the default value of the attribute.\n'
        "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
        '        `sync`: boolean, relevant for element attributes only, class and style attributes\n'
        '        are always synced. If true the update event is sent to the client when the attribute value is updated.\n'
        '        `options`: list of strings, other possible values which are accepted by the attribute instance\n'
        '        For example some numeric attributes can accept also string values like `inherit`.\n'
        "        'format': 'css' or empty string (default). If format is 'css', the color value will be converted to the proper\n"
        '        css color attribute (with `rgb` or `rgba` prefix)\n'
        '    '
    ),
    '_GenericEventAttribute': (
        'An event attribute class like `onclick` for the button input element.\n'
        '    Event attributes can be activated/deactivated  by setting them to True/False.\n'
        '\n'
        '    :Parameters:\n'
        "        `defaultvalue`: string, defaults to ''\n"
        '        Specifies the default value of the attribute.\n'
        "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
        '        `sync`: boolean, relevant for element attributes only, class and style attributes\n'
        '        are always synced. If true the update event is sent to the client when the attribute value is updated.\n'
        '        `remdispatch`: boolean, if True, prevents dispatching of the client event\n'
        '        `event_handler`: callable, which returns handler javascript code.\n'
        '        `event_args`: dictionary with event arguments\n'
        "        'event_js': string with javascript code to be called when event is activated\n"
        '    '
    ),
}
