# CMake generated Testfile for 
# Source directory: /work/main/tests
# Build directory: /work/main/build-address-undefined/tests
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
include("/work/main/build-address-undefined/tests/mobivert_tests[1]_include.cmake")
