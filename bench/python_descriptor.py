"""The part every pure-Python baseline descriptor shares: one value per owner,
kept in a dict, and the attribute name resolved as the native types resolve
it (the given one, else the property's name with "_" as "-")."""


class PyDescriptor:
    def __init__(self, attrname=""):
        self._attrname = attrname
        self.values = {}
        self.name = None

    def __set_name__(self, owner, name):
        self.name = name

    def __get__(self, obj, owner=None):
        return self if obj is None else self.values.get(obj)

    def __set__(self, obj, value):
        self.values[obj] = value

    @property
    def attrname(self):
        return self._attrname or self.name.replace("_", "-")
