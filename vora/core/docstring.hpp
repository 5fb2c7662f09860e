// The attribute types' docstrings, joined at compile time from a type's own
// text and the parameters every type takes, which are written once here.
#pragma once

#include <array>
#include <cstddef>

namespace vora::attributes {

// The texts of parts, one after another, as one zero-terminated array.
template <std::size_t... N>
constexpr auto join_texts(const char (&... parts)[N])
{
    std::array<char, (N + ... + 1) - sizeof...(N)> text{};
    std::size_t at = 0;
    auto append = [&](const char* part, std::size_t size) {
        for (std::size_t i = 0; i + 1 < size; ++i)
            text[at++] = part[i];
    };
    (append(parts, N), ...);
    return text;
}

// summary, the parameters section with the default value described as
// defaultvalue and the common keywords, then the type's own parameters, and
// the closing indent of a Python docstring.
template <std::size_t S, std::size_t D, std::size_t... N>
constexpr auto attribute_doc(const char (&summary)[S], const char (&defaultvalue)[D],
                             const char (&... own)[N])
{
    return join_texts(
        summary,
        "\n"
        "    :Parameters:\n"
        "        `defaultvalue`: ",
        defaultvalue,
        "\n"
        "        Specifies the default value of the attribute.\n"
        "        `attrtype`: string, attribute type - 'style', 'class', 'element'\n"
        "        `sync`: boolean, relevant for element attributes only, class and style attributes\n"
        "        are always synced. If true the update event is sent to the client when the attribute value is updated.\n",
        own..., "    ");
}

}  // namespace vora::attributes
