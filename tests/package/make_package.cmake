# Makes the package afresh: an old one left from an earlier build must not
# pass for it.
file(REMOVE_RECURSE "${OUT}")
execute_process(COMMAND "${CPACK}" --config "${CONFIG}" -B "${OUT}" COMMAND_ERROR_IS_FATAL ANY)
