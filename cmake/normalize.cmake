# Run by CPack once it has made each package, before it copies and sums it.
# CPack's writers take each file's owner and mode (so the umask), and the ZIP
# the local time zone's clock; packaging/normalize leaves only what the files
# hold.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND "${CPACK_DSU_NORMALIZE}" "$ENV{SOURCE_DATE_EPOCH}" "${package}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
