# The layers of the code, written once: each folder may include its own headers and those of
# the folders listed for it, nothing else. CMakeLists.txt builds the service's folders as one
# library each, linked in this order; cmake/check_layers.cmake refuses an include against it.
#
#   platform (OS seams) <- toolbelt (runtime, formats) <- snmp, mail (protocols),
#   install (service accounts, units, event sources) <- ups (history, pages) <- service
#   (the program); packaging, sim and soak on top, tests beside them.
set(TW_LIBRARY_FOLDERS platform toolbelt snmp mail install ups service)

set(TW_LAYER_platform "")
set(TW_LAYER_toolbelt platform)
set(TW_LAYER_snmp toolbelt platform)
set(TW_LAYER_mail toolbelt platform)
set(TW_LAYER_install toolbelt platform)
set(TW_LAYER_ups toolbelt platform)
set(TW_LAYER_service ups snmp mail install toolbelt platform)
set(TW_LAYER_packaging install toolbelt platform)
set(TW_LAYER_sim snmp toolbelt platform)
set(TW_LAYER_soak service sim ups snmp mail install toolbelt platform)
# Shared test helpers and the probes that the system test scripts run.
set(TW_LAYER_tests sim service ups snmp mail install toolbelt platform)

set(TW_LAYER_FOLDERS ${TW_LIBRARY_FOLDERS} packaging sim soak tests)
