# cmake -DVERSION=x.y.z -DCHANGELOG=changelog -DMETAINFO=file.metainfo.xml -P CheckVersions.cmake
# Fails unless the newest changelog entry and the newest metainfo release are VERSION.
file(STRINGS "${CHANGELOG}" first_line LIMIT_COUNT 1)
if(NOT first_line MATCHES "^orbinwash \\(([^)]+)\\) ")
    message(FATAL_ERROR "${CHANGELOG}: the first line is no changelog entry: ${first_line}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
    message(FATAL_ERROR "${CHANGELOG}: the newest entry is ${CMAKE_MATCH_1}, the project is ${VERSION}: "
                        "add an entry for ${VERSION}")
endif()

file(READ "${METAINFO}" metainfo)
if(NOT metainfo MATCHES "<release version=\"([^\"]+)\"")
    message(FATAL_ERROR "${METAINFO}: no <release>")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
    message(FATAL_ERROR "${METAINFO}: the newest release is ${CMAKE_MATCH_1}, the project is ${VERSION}: "
                        "add a <release> for ${VERSION} at the top of <releases>")
endif()
message(STATUS "changelog and metainfo are at ${VERSION}")
