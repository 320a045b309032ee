# Builds the Debian package into a scratch directory and checks its
# metadata and contents.
#   cmake -DBUILD_DIR=<build> -DOUT=<scratch> -DWITH_QT=ON|OFF -P check_deb.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND cpack -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${OUT}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB debs ${OUT}/qmxdemo_*.deb)
if(NOT rc EQUAL 0 OR NOT debs)
  message(FATAL_ERROR "cpack failed: ${out}")
endif()
list(GET debs 0 deb)

execute_process(COMMAND dpkg-deb -f ${deb} Package Version Architecture Depends OUTPUT_VARIABLE fields)
message(STATUS "${fields}")
# Dependencies come from the programs' libraries, with versions.
set(needed "libc6 \\(>= " "libstdc\\+\\+6 \\(>= ")
if(WITH_QT)
  list(APPEND needed "libqt6widgets6 \\(>= " "libqt6core6 \\(>= " "qt6-qpa-plugins")
endif()
foreach(n IN LISTS needed)
  if(NOT fields MATCHES "Depends:.*${n}")
    message(FATAL_ERROR "Depends lacks ${n}: ${fields}")
  endif()
endforeach()
if(NOT fields MATCHES "Package: qmxdemo\n")
  message(FATAL_ERROR "wrong package name: ${fields}")
endif()

execute_process(COMMAND dpkg-deb -c ${deb} OUTPUT_VARIABLE files)
set(expected ./usr/bin/qmxctl ./usr/bin/qmxsim ./usr/share/man/man1/qmxctl.1.gz
             ./usr/share/bash-completion/completions/qmxctl)
if(WITH_QT)
  list(APPEND expected ./usr/bin/qmxdemo ./usr/share/applications/qmxdemo.desktop)
endif()
foreach(f IN LISTS expected)
  string(FIND "${files}" " ${f}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "package lacks ${f}:\n${files}")
  endif()
endforeach()

# lintian finds no error and no warning, and in an optimised build without
# a sanitizer (which brings its own instrumentation instead) no missing
# hardening either (only informational tags, so -I).
find_program(LINTIAN lintian)
if(NOT LINTIAN)
  message(FATAL_ERROR "lintian is not installed (scripts/install-deps.sh installs it)")
endif()
load_cache(${BUILD_DIR} READ_WITH_PREFIX build_ CMAKE_BUILD_TYPE QMX_SANITIZE QMX_TSAN)
set(wrong "[EW]: [^\n]*")
if(build_CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$" AND NOT build_QMX_SANITIZE
   AND NOT build_QMX_TSAN)
  string(APPEND wrong "|I: [^\n]*hardening[^\n]*")
endif()
execute_process(COMMAND ${LINTIAN} -I ${deb} OUTPUT_VARIABLE lint ERROR_VARIABLE lint_err)
string(REGEX MATCHALL "(^|\n)(${wrong})" bad "${lint}")
if(bad)
  message(FATAL_ERROR "lintian:\n${lint}")
endif()
