# Where OrbinWash looks for its newer versions. Only HTTPS: the feed names the packages
# users are asked to download.
set(OW_UPDATE_FEED_URL "https://updates.orbinlabs.app/linux/appcast.xml"
    CACHE STRING "Address of the appcast feed that announces new versions")
if(NOT OW_UPDATE_FEED_URL MATCHES "^https://[^\"\\\\ ]+$")
    message(FATAL_ERROR "OW_UPDATE_FEED_URL must be an https:// address without quotes or "
                        "spaces, not '${OW_UPDATE_FEED_URL}'")
endif()
target_compile_definitions(ow_core PRIVATE OW_UPDATE_FEED_URL="${OW_UPDATE_FEED_URL}")

# The key a downloaded package's Ed25519 signature (sparkle:edSignature in the feed) must
# verify against: the 32-byte raw public key, in base64. Release builds set the key whose
# private half signs the published packages.
set(OW_UPDATE_PUBLIC_KEY "O69xF5dv+fKwvKHtAa7ea/psE5ehYyFc7JlVE2LiyPw="
    CACHE STRING "Base64 of the raw Ed25519 public key that update packages are signed for")
string(LENGTH "${OW_UPDATE_PUBLIC_KEY}" _ow_key_length)
if(NOT OW_UPDATE_PUBLIC_KEY MATCHES "^[A-Za-z0-9+/]+=$" OR NOT _ow_key_length EQUAL 44)
    message(FATAL_ERROR "OW_UPDATE_PUBLIC_KEY must be the base64 of 32 bytes (44 characters), "
                        "not '${OW_UPDATE_PUBLIC_KEY}'")
endif()
target_compile_definitions(ow_core PRIVATE OW_UPDATE_PUBLIC_KEY="${OW_UPDATE_PUBLIC_KEY}")
# The signature check loads libcrypto itself, only while it runs: its header, not the library.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_include_directories(ow_core PRIVATE $<TARGET_PROPERTY:OpenSSL::Crypto,INTERFACE_INCLUDE_DIRECTORIES>)
target_link_libraries(ow_core PRIVATE ${CMAKE_DL_LIBS})
