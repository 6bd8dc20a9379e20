# The one moment every dated thing in a build takes (the man page's date, the Debian changelog,
# the members of the packages), so that two builds of one commit give the same bytes: the
# caller's SOURCE_DATE_EPOCH, else the time of the last commit, else (a source tree without git)
# the time CMakeLists.txt was last changed. Read again at every configure; scripts/package reads
# it back from the cache.
include_guard(GLOBAL)

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(zul_epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(
    COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE zul_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE zul_git_status ERROR_QUIET)
  if(NOT zul_git_status EQUAL 0 OR NOT zul_epoch MATCHES "^[0-9]+$")
    file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt zul_epoch "%s" UTC)
  endif()
endif()
if(NOT zul_epoch MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be whole seconds since 1970, not '${zul_epoch}'")
endif()
set(ZUL_SOURCE_DATE_EPOCH ${zul_epoch} CACHE INTERNAL "Seconds since 1970 that dated build outputs carry")
# string(TIMESTAMP) and the tools run at configure time read it from the environment.
set(ENV{SOURCE_DATE_EPOCH} ${ZUL_SOURCE_DATE_EPOCH})
