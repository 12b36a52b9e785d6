# One interface target carries the warning set and the sanitizer flags; every
# target of the project links it, so a flag changes in one place only.
add_library(quiltara_warnings INTERFACE)
target_compile_options(quiltara_warnings INTERFACE
    $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Wshadow>
    $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Wpedantic -Wshadow>)
if(QUILTARA_WERROR)
    target_compile_options(quiltara_warnings INTERFACE -Werror)
endif()

if(QUILTARA_SANITIZE)
    set(QUILTARA_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer
        -fno-sanitize-recover=undefined)
    target_compile_options(quiltara_warnings INTERFACE ${QUILTARA_SANITIZER_FLAGS})
    target_link_options(quiltara_warnings INTERFACE ${QUILTARA_SANITIZER_FLAGS})
endif()
