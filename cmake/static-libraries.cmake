# Read by project() after CMake's platform defaults (as CMAKE_USER_MAKE_RULES_OVERRIDE,
# set by aarch64-linux-gnu.cmake): find static libraries only, for a -static link.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
