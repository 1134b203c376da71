# Where the platform's CUPS looks for what the driver installs. CUPS runs
# filters only from its server directory, whatever the install prefix;
# cups-config knows it (/usr/lib/cups on Debian, /usr/libexec/cups on
# macOS). The driver listing (lpinfo -m) finds PPDs in the data directory's
# ppd/ on Linux and in the system's PPD folder on macOS.
#
#   lbl_cups_install_dirs(SYSTEM_NAME SERVERBIN_VAR PPD_DIR_VAR)
#
# SYSTEM_NAME is CMAKE_SYSTEM_NAME, or a forced value for the configure test.
function(lbl_cups_install_dirs system_name serverbin_var ppd_dir_var)
  if(system_name STREQUAL "Darwin")
    set(serverbin /usr/libexec/cups)
    set(ppd_dir /Library/Printers/PPDs/Contents/Resources)
  else()
    set(serverbin /usr/lib/cups)
    set(ppd_dir ${CMAKE_INSTALL_DATADIR}/ppd/lblfilter)
  endif()
  find_program(CUPS_CONFIG_EXECUTABLE cups-config)
  if(CUPS_CONFIG_EXECUTABLE AND system_name STREQUAL CMAKE_HOST_SYSTEM_NAME)
    execute_process(COMMAND ${CUPS_CONFIG_EXECUTABLE} --serverbin
                    OUTPUT_VARIABLE serverbin OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  set(${serverbin_var} ${serverbin} PARENT_SCOPE)
  set(${ppd_dir_var} ${ppd_dir} PARENT_SCOPE)
endfunction()
