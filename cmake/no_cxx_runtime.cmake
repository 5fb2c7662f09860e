# Fails when the shipped module MODULE needs the C++ runtime: libstdc++ or
# libgcc_s as a NEEDED library, or an undefined symbol that only they define
# (C++ names, the ABI's __cxa_ entries other than the C library's, the
# exception personality and unwinder, their symbol versions). The modules are
# built to need nothing but the C library, which is what lets one wheel load
# on systems far older than the compiler. Also fails on a symbol that no
# NEEDED library versions and the interpreter does not define.
#   cmake -DMODULE=<file> -DREADELF=<readelf> -DNM=<nm> -P no_cxx_runtime.cmake
foreach(var MODULE READELF NM)
    if(NOT ${var})
        message(FATAL_ERROR "no_cxx_runtime.cmake: ${var} is not set")
    endif()
endforeach()

execute_process(COMMAND "${READELF}" --dynamic --wide "${MODULE}"
                OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${READELF} cannot read ${MODULE}")
endif()
string(REGEX MATCHALL "Shared library: \\[(libstdc\\+\\+|libgcc_s)[^]]*\\]" needed "${dynamic}")

execute_process(COMMAND "${NM}" --dynamic --undefined-only "${MODULE}"
                OUTPUT_VARIABLE undefined RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} cannot read ${MODULE}")
endif()
string(REPLACE "\n" ";" lines "${undefined}")
set(symbols "")
set(unbound "")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^ *[A-Za-z] +" "" symbol "${line}")
    if(symbol MATCHES "^__cxa_(finalize|atexit|thread_atexit_impl)(@|$)")
        continue()  # the C library's
    endif()
    if(symbol MATCHES "^(_Z|__cxa_|__gxx_|_Unwind_)" OR symbol MATCHES "@+(GLIBCXX|CXXABI|GCC)_")
        list(APPEND symbols "${symbol}")
    elseif(line MATCHES "^ *U " AND NOT symbol MATCHES "@|^_?Py")
        # Neither the interpreter's nor versioned by a NEEDED library: it
        # resolves only if the process happens to have loaded its library.
        list(APPEND unbound "${symbol}")
    endif()
endforeach()

if(needed OR symbols)
    list(TRANSFORM needed REPLACE "Shared library: \\[(.*)\\]" "\\1")
    list(APPEND needed ${symbols})
    list(JOIN needed ", " found)
    message(FATAL_ERROR
        "${MODULE} needs the C++ runtime (${found}); a shipped module may use only the "
        "C library and the interpreter: no exceptions, RTTI, guarded statics or library "
        "functions compiled into libstdc++")
endif()
if(unbound)
    list(JOIN unbound ", " unbound)
    message(FATAL_ERROR "${MODULE} uses symbols of no library it names (${unbound}): "
                        "link that library explicitly")
endif()
