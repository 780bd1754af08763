# Run on every build (cmake -P): settles the date the package carries, the
# sources' date rather than the build's, so that two builds of the same
# sources make the same package byte for byte. It is SOURCE_DATE_EPOCH when
# the environment sets it, else the time of the checkout's last commit, else
# (sources without their history) the build's own time. Writes the changelog
# dated by it, and the seconds to packaging/source-date-epoch, which cpack
# reads (cpack-options.cmake) for the times of the package's files. Each file
# is rewritten only when its text changes, so an unchanged date rebuilds
# nothing.
#
#   cmake -DSOURCE_DIR=... -DOUT_DIR=... -DPROJECT_VERSION=... -DCPACK_PACKAGE_CONTACT=... -P source-date.cmake
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "")
  execute_process(COMMAND git -C "${SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR NOT epoch MATCHES "^[0-9]+$")
    set(epoch "")
  endif()
endif()
if(NOT epoch STREQUAL "")
  # string(TIMESTAMP) takes its time from SOURCE_DATE_EPOCH when it is set.
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
string(TIMESTAMP PLOMEX_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file("${SOURCE_DIR}/packaging/changelog.in" "${OUT_DIR}/changelog" @ONLY)

set(stamp "${OUT_DIR}/source-date-epoch")
set(old "")
if(EXISTS "${stamp}")
  file(READ "${stamp}" old)
endif()
if(NOT old STREQUAL "${epoch}")
  file(WRITE "${stamp}" "${epoch}")
endif()
