# Install rules of the Python module (target ksbnfc_python and the files
# KSBNFC_PY_FILES of python/CMakeLists.txt). The package goes into a site
# directory that Python3_EXECUTABLE searches under the install prefix,
# relative to it so that --prefix moves it: with Debian's python3 and the
# default prefix, /usr/local/lib/python3.X/dist-packages. An interpreter that
# searches nothing under the prefix (a version manager's, or any with a
# private prefix) gets lib/python3.X/site-packages there, with a message that
# says how to reach it.
set(KSBNFC_PYTHON_SITE "" CACHE STRING
    "Where the Python module is installed, relative to the install prefix or absolute (empty: a site directory of Python3_EXECUTABLE)")
set(ksbnfc_py_site ${KSBNFC_PYTHON_SITE})
if(NOT ksbnfc_py_site)
  execute_process(COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/python_site.py ${CMAKE_INSTALL_PREFIX}
                  OUTPUT_VARIABLE ksbnfc_py_site OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(ksbnfc_py_site MATCHES "^!([^\n]*)\n(.*)")
    set(ksbnfc_py_site ${CMAKE_MATCH_1})
    message(WARNING "Python module: ${Python3_EXECUTABLE} searches no directory under the install "
      "prefix ${CMAKE_INSTALL_PREFIX}, so `cmake --install` puts the module in "
      "${CMAKE_INSTALL_PREFIX}/${ksbnfc_py_site}, where that interpreter finds it only with "
      "PYTHONPATH=${CMAKE_INSTALL_PREFIX}/${ksbnfc_py_site}. To install it where this interpreter "
      "looks, configure with -DKSBNFC_PYTHON_SITE=${CMAKE_MATCH_2}; to build it for Debian's "
      "interpreter instead, with -DPython3_EXECUTABLE=/usr/bin/python3; or install it with "
      "`pip install --no-build-isolation .` (README.md, \"Python\").")
  endif()
endif()
# Read by tests/run_all.sh.
set(KSBNFC_PYTHON_SITE_DIR ${ksbnfc_py_site} CACHE INTERNAL "")
install(TARGETS ksbnfc_python LIBRARY DESTINATION ${ksbnfc_py_site}/ksbnfc)
install(FILES ${KSBNFC_PY_FILES} DESTINATION ${ksbnfc_py_site}/ksbnfc)

# With the prefix given at install time, says so when the interpreter will
# not find what was installed.
install(CODE "set(ksbnfc_python \"${Python3_EXECUTABLE}\")\nset(ksbnfc_site \"${ksbnfc_py_site}\")")
install(CODE [[
  get_filename_component(ksbnfc_site "${ksbnfc_site}" ABSOLUTE BASE_DIR "${CMAKE_INSTALL_PREFIX}")
  if(NOT DEFINED ENV{DESTDIR})
    execute_process(COMMAND "${ksbnfc_python}" -c
        "import os,sys; d=os.path.realpath(sys.argv[1]); sys.exit(d not in [os.path.realpath(p) for p in sys.path if p])"
        "${ksbnfc_site}" RESULT_VARIABLE ksbnfc_unseen)
    if(ksbnfc_unseen)
      message(STATUS "Python module: ${ksbnfc_python} does not search ${ksbnfc_site}: "
                     "import ksbnfc with PYTHONPATH=${ksbnfc_site} (README.md, \"Python\")")
    endif()
  endif()
]])
