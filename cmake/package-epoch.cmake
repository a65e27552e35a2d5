# Read by cpack before it makes each package. Every time in the packages is
# SOURCE_DATE_EPOCH: the caller's, else the last commit's, so that one commit
# gives the same packages whenever it is packaged.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${CPACK_DSU_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "${CPACK_DSU_SOURCE_DIR} is no git checkout: set SOURCE_DATE_EPOCH")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
