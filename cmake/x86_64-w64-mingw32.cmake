# 64-bit Windows: used to run the tests on machines that cannot execute 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ORVEX_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
