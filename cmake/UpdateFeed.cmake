# Where OrbinWash looks for its newer versions. Only HTTPS: the feed names the packages
# users are asked to download.
set(OW_UPDATE_FEED_URL "https://updates.orbinlabs.app/linux/appcast.xml"
    CACHE STRING "Address of the appcast feed that announces new versions")
if(NOT OW_UPDATE_FEED_URL MATCHES "^https://[^\"\\\\ ]+$")
    message(FATAL_ERROR "OW_UPDATE_FEED_URL must be an https:// address without quotes or "
                        "spaces, not '${OW_UPDATE_FEED_URL}'")
endif()
target_compile_definitions(ow_core PRIVATE OW_UPDATE_FEED_URL="${OW_UPDATE_FEED_URL}")
