# The release-signing public keys, base64 of a 32-byte Ed25519 key each, as written by
# `ashenmarch-publish keygen`. With a key set, the launcher accepts only manifests signed by it
# or by the backup key (so the studio can rotate keys without stranding players); with both
# empty, releases are not signed.
set(ASHENMARCH_RELEASE_PUBKEY "" CACHE STRING
    "Base64 Ed25519 public key that signs releases (empty: releases are not signed)")
set(ASHENMARCH_RELEASE_PUBKEY_BACKUP "" CACHE STRING
    "Optional second base64 Ed25519 public key, accepted as well (key rotation)")

# A mistyped key must stop the build: compiling it in would either reject every release or,
# worse, be read as "no key" and turn verification off.
function(am_release_key variable)
    string(STRIP "${${variable}}" key)
    if(NOT key STREQUAL "")
        string(LENGTH "${key}" length)
        # 32 bytes are 43 base64 digits and one "="; the last digit's two spare bits are zero.
        if(NOT length EQUAL 44 OR NOT key MATCHES "^[A-Za-z0-9+/]+[AEIMQUYcgkosw048]=$")
            message(FATAL_ERROR "${variable} is not the base64 text of a 32-byte Ed25519 public "
                "key (44 characters ending in \"=\", as written by ashenmarch-publish keygen): "
                "\"${key}\"")
        endif()
    endif()
    set(${variable}_CLEAN "${key}" PARENT_SCOPE)
endfunction()

am_release_key(ASHENMARCH_RELEASE_PUBKEY)
am_release_key(ASHENMARCH_RELEASE_PUBKEY_BACKUP)
if(ASHENMARCH_RELEASE_PUBKEY_CLEAN STREQUAL "" AND NOT ASHENMARCH_RELEASE_PUBKEY_BACKUP_CLEAN STREQUAL "")
    message(FATAL_ERROR "ASHENMARCH_RELEASE_PUBKEY_BACKUP is set but ASHENMARCH_RELEASE_PUBKEY "
        "is empty: set the primary key first")
endif()
