# Warnings for our own targets only (third-party headers stay quiet).
add_library(nompack_warnings INTERFACE)
target_compile_options(nompack_warnings INTERFACE -Wall -Wextra)
option(NOMPACK_WERROR "Treat warnings as errors" OFF)
if(NOMPACK_WERROR)
  target_compile_options(nompack_warnings INTERFACE -Werror)
endif()
# Qt's string literals: no silent conversion from const char* in our code.
target_compile_definitions(nompack_warnings INTERFACE QT_NO_CAST_FROM_ASCII QT_NO_URL_CAST_FROM_STRING)
