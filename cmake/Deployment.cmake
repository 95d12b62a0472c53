# Writes the scripts deployment tools run beside the installer (README, "Deploying"): one that
# says whether the pack is installed, with each payload's SHA-256, and one that says whether the
# host is there to install it into. Both find the host as the installer does, from one text.
#
# Expects ORVEX_GENERATED_DIR and ORVEX_DETECTION_ROWS (cmake/Payloads.cmake); sets
# ORVEX_DEPLOYMENT_SCRIPTS to the written scripts, each to be put beside the installer under
# its name.

# The host's key, from the major version it shares with the installer, as src/host/locator.h
# derives it; tests/payload_listing.sh checks that the installer carries this very key.
set(ORVEX_HOST_SETTINGS_KEY "SOFTWARE\\Orvex\\Pro\\${PROJECT_VERSION_MAJOR}\\Settings")

set(_deploy "${CMAKE_CURRENT_LIST_DIR}/deploy")
configure_file("${_deploy}/host_folder.ps1.in" "${ORVEX_GENERATED_DIR}/host_folder.ps1" @ONLY)
file(READ "${ORVEX_GENERATED_DIR}/host_folder.ps1" ORVEX_HOST_FOLDER_SCRIPT)
set(ORVEX_DEPLOYMENT_SCRIPTS "")
foreach(_script IN ITEMS detect requirement)
  configure_file("${_deploy}/${_script}.ps1.in" "${ORVEX_GENERATED_DIR}/${_script}.ps1" @ONLY)
  list(APPEND ORVEX_DEPLOYMENT_SCRIPTS "${ORVEX_GENERATED_DIR}/${_script}.ps1")
endforeach()
