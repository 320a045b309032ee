# Installs the build into a scratch DESTDIR and checks what lands there.
#   cmake -DBUILD_DIR=<build> -DOUT=<scratch> -DWITH_QT=ON|OFF -DSOURCE_DIR=<repo> -P check_install.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${OUT} ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()

set(root ${OUT}/usr)
set(expected bin/qmxctl bin/qmxsim share/man/man1/qmxctl.1.gz share/man/man1/qmxsim.1.gz
             share/bash-completion/completions/qmxctl)
if(WITH_QT)
  list(APPEND expected bin/qmxdemo share/man/man1/qmxdemo.1.gz share/applications/qmxdemo.desktop
       share/icons/hicolor/scalable/apps/qmxdemo.svg)
  foreach(size 16 32 48 64 128 256)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/qmxdemo.png)
  endforeach()
endif()
foreach(f IN LISTS expected)
  if(NOT EXISTS ${root}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

# Each man page is made from its program's --help: it names the program's
# options, not an empty page.
foreach(p qmxctl:--timeout qmxsim:--traffic-interval)
  string(REPLACE ":" ";" pair ${p})
  list(GET pair 0 prog)
  list(GET pair 1 option)
  execute_process(COMMAND gzip -dc ${root}/share/man/man1/${prog}.1.gz OUTPUT_VARIABLE page)
  string(REPLACE "\\-" "-" page "${page}")
  if(NOT page MATCHES "${option}" OR NOT page MATCHES "\\.TH ")
    message(FATAL_ERROR "${prog}.1 does not describe ${option}")
  endif()
endforeach()

# The pages read as man pages: a synopsis, the usual sections, and for
# qmxctl one paragraph per command of its list plus a subsection per command.
set(sections SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES FILES "SEE ALSO")
set(qmxctl_wants ${sections} COMMANDS "\\.TP\ndefaults " "\\.TP\nmac " "\\.TP\nfcc " "\\.TP\nsend "
                 "\\.TP\nmonitor " "\\.SS \"diag\"" "\\.SS \"monitor\"" logfile\\.dat)
set(qmxdemo_wants ${sections} qmxdemo\\.ini logfile\\.dat diagfile\\.dat)
set(qmxsim_wants ${sections})
set(pages qmxctl qmxsim)
if(WITH_QT)
  list(APPEND pages qmxdemo)
endif()
foreach(prog IN LISTS pages)
  execute_process(COMMAND gzip -dc ${root}/share/man/man1/${prog}.1.gz OUTPUT_VARIABLE page)
  foreach(want IN LISTS ${prog}_wants)
    if(want MATCHES "^[A-Z ]+$")
      set(want "\n\\.SH \"?${want}\"?\n")
    endif()
    if(NOT page MATCHES "${want}")
      message(FATAL_ERROR "${prog}.1 lacks ${want}:\n${page}")
    endif()
  endforeach()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env MANWIDTH=80 man --warnings -l -E UTF-8 -P cat
                          ${root}/share/man/man1/${prog}.1.gz OUTPUT_QUIET ERROR_VARIABLE warnings)
  if(warnings)
    message(FATAL_ERROR "man warns about ${prog}.1:\n${warnings}")
  endif()
endforeach()

if(WITH_QT)
  execute_process(COMMAND desktop-file-validate ${root}/share/applications/qmxdemo.desktop
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0 OR out MATCHES "error")
    message(FATAL_ERROR "desktop entry not valid: ${out}")
  endif()
endif()

# The completion offers qmxctl's commands as its --help lists them.
execute_process(
  COMMAND bash -c "source '${root}/share/bash-completion/completions/qmxctl' && _qmxctl_commands '${root}/bin/qmxctl'"
  OUTPUT_VARIABLE commands RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT commands MATCHES "config\n" OR NOT commands MATCHES "status\n")
  message(FATAL_ERROR "completion lists no commands: '${commands}'")
endif()

# What Tab offers: each line of cases is the command line, then words the
# offer must hold (the offer is one word a line).
if(NOT EXISTS /usr/share/bash-completion/bash_completion)
  message(FATAL_ERROR "bash-completion is not installed (scripts/install-deps.sh installs it)")
endif()
set(cases
    "qmxctl |config|status|monitor"
    "qmxctl --|--port|--timeout|--log"
    "qmxctl --port |sim"
    "qmxctl --parity |none|even|odd"
    "qmxctl --baud 1|1200|19200|115200"
    "qmxctl config |show|set|save|diff|load"
    "qmxctl config set |tx-power=|serial-parity=|device-mode="
    "qmxctl config set tx-power=0x10 serial-parity=|None|Even|Odd"
    "qmxctl config set sleep-mode=al|Always\\\\ On"
    "qmxctl config set security-mode=|on|off"
    "qmxctl config show --|--remote|--address|--port"
    "qmxctl fcc |1|2|4"
    "qmxctl firmware |program|verify|save"
    "qmxctl diag |scan|poll"
    "qmxctl diag scan 1-60 --|--sweeps|--length|--delay"
    "qmxctl diag poll --|--count"
    "qmxctl nodes --|--listen|--scan"
    "qmxctl --port /dev/ttyUSB0 monitor 60 --|--reconnect"
    "qmxctl send 1 --|--text"
    "qmxctl firmware program new.bin --|--recover"
    "qmxctl firmware verify new.bin --|--raw")
# What a command line must not be offered: the options of other commands or
# actions.
set(wrong_offers
    "qmxctl firmware save image.bin --|--raw|--recover|--reset"
    "qmxctl firmware verify image.bin --|--recover"
    "qmxctl firmware program image.bin --|--raw"
    "qmxctl config show --|--reset"
    "qmxctl diag poll --|--sweeps"
    "qmxctl diag poll --|--scan"
    "qmxctl nodes --|--sweeps")
# Each case: the line, then the words it must (cases) or must not
# (wrong_offers) be offered.
foreach(list cases wrong_offers)
  foreach(case IN LISTS ${list})
    string(REPLACE "|" ";" case "${case}")
    list(POP_FRONT case line)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env PATH=${root}/bin:$ENV{PATH}
                            bash ${CMAKE_CURRENT_LIST_DIR}/complete.sh ${root}/share/bash-completion/completions/qmxctl
                            "${line}"
                    OUTPUT_VARIABLE offer RESULT_VARIABLE rc)
    foreach(word IN LISTS case)
      set(offered FALSE)
      if("\n${offer}" MATCHES "\n${word}\n")
        set(offered TRUE)
      endif()
      if(NOT rc EQUAL 0 OR (list STREQUAL "cases" AND NOT offered))
        message(FATAL_ERROR "completing '${line}' offers no '${word}':\n${offer}")
      elseif(list STREQUAL "wrong_offers" AND offered)
        message(FATAL_ERROR "completing '${line}' offers '${word}', which does not apply:\n${offer}")
      endif()
    endforeach()
  endforeach()
endforeach()
