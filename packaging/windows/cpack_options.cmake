# Read by CPack for each package it makes. Unpacked with Explorer's "Extract all", the ZIP
# lands in a folder of its own name anyway.
if(CPACK_GENERATOR STREQUAL "ZIP")
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
