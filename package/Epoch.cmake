# The time every date in the package takes, as SHOWPLAYER_EPOCH (seconds):
# SOURCE_DATE_EPOCH when the user gives one, otherwise the last commit's, and
# in a tree without git history its top CMakeLists.txt's. Read by the build
# (the manual page, the changelog) and by cpack (the archive's file times),
# with SHOWPLAYER_SOURCE_DIR set to the source tree.
#
# cpack sets SOURCE_DATE_EPOCH for itself, and a build it starts (its
# preinstall step may configure again after a commit) inherits it; that one
# is recognised by SHOWPLAYER_CPACK_EPOCH and not taken for the user's.
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "$ENV{SHOWPLAYER_CPACK_EPOCH}")
  set(SHOWPLAYER_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${SHOWPLAYER_SOURCE_DIR}" log -1 --format=%ct
    OUTPUT_VARIABLE SHOWPLAYER_EPOCH RESULT_VARIABLE epoch_status OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT epoch_status EQUAL 0 OR NOT SHOWPLAYER_EPOCH MATCHES "^[0-9]+$")
    file(TIMESTAMP "${SHOWPLAYER_SOURCE_DIR}/CMakeLists.txt" SHOWPLAYER_EPOCH "%s" UTC)
  endif()
endif()
