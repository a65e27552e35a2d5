# Run by CPack once it has installed the release into its staging folder, for
# each package it makes: only the archive's tree gets the bundled Qt.
if(CPACK_GENERATOR STREQUAL "TGZ")
  execute_process(
      COMMAND "${CPACK_DSU_BUNDLE}"
              "${CPACK_TEMPORARY_INSTALL_DIRECTORY}"
      COMMAND_ERROR_IS_FATAL ANY)
endif()
