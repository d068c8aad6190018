# The package's changelog, dated when it is made (as the programs are built), or at
# SOURCE_DATE_EPOCH when the environment sets it, so a reproducible build gives the same
# bytes. RFC 2822 date in UTC, as dpkg wants it.
#   cmake -DIN=changelog.in -DOUT=changelog -DPACKAGE_NAME=... -DPACKAGE_VERSION=...
#         -DRM_NUM=... -DFW_VER=... -DMAINTAINER=... -P MakeChangelog.cmake
string(TIMESTAMP CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file("${IN}" "${OUT}" @ONLY)
