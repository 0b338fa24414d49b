function(quorvex_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    # Shadowed names and silent narrowing hide faults a reader does not expect. (clang's
    # -Wconversion also counts every change of sign; the fuzz build with clang keeps the rest.)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(${target} PRIVATE -Wshadow -Wconversion)
    endif()
    if(QUORVEX_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    # g++ 12 at -O2 and above warns falsely about std::string concatenation (its bug 105329).
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
endfunction()

if(QUORVEX_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# ThreadSanitizer cannot share a process with AddressSanitizer, so the two are separate builds.
if(QUORVEX_TSAN)
    if(QUORVEX_SANITIZE)
        message(FATAL_ERROR "QUORVEX_TSAN and QUORVEX_SANITIZE cannot be combined")
    endif()
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()
