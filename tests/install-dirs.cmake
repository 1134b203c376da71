# cmake -P tests/install-dirs.cmake: the install directories the build picks
# for each platform's CUPS, with the platform forced.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/LblInstallDirs.cmake)
set(CMAKE_INSTALL_DATADIR share)
function(expect system want_serverbin want_ppd_dir)
  lbl_cups_install_dirs(${system} serverbin ppd_dir)
  if(NOT serverbin STREQUAL want_serverbin OR NOT ppd_dir STREQUAL want_ppd_dir)
    message(FATAL_ERROR "${system}: filters to ${serverbin}, PPDs to ${ppd_dir}")
  endif()
endfunction()
expect(Darwin /usr/libexec/cups /Library/Printers/PPDs/Contents/Resources)
execute_process(COMMAND cups-config --serverbin OUTPUT_VARIABLE here OUTPUT_STRIP_TRAILING_WHITESPACE)
expect(Linux ${here} share/ppd/lblfilter)
