# The Debian package (cpack -G DEB in a release build). Its library dependencies come from the
# linked shared libraries through dpkg-shlibdeps, so a plain `apt-get install ./zembrat_*.deb`
# brings in Qt, libcurl and the rest.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "zembrat")
set(CPACK_PACKAGE_VENDOR "The Zembrat developers")
set(CPACK_PACKAGE_CONTACT "The Zembrat developers <zembrat@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "re-hosts the network images of articles on your own site")
set(CPACK_PACKAGE_DESCRIPTION
    "Zembrat is a desktop tool for people who publish articles on their own web site. It finds
the network images that the articles reference, downloads each one into an image folder,
stores it under a name made from the CRC-32 of its bytes and rewrites the articles to point
at the new address on the user's own site.")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION "web")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://zembrat.github.io/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libvips comes in through dpkg-shlibdeps (libvips42); its own Depends bring the decoders and
# encoders it loads as modules (libheif1 with libaom3 for AVIF, ImageMagick for BMP).
# The captions are Chinese: without a CJK font they show as boxes, and without Qt's own Chinese
# translations the standard buttons and dialogs are English.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "fonts-wqy-microhei | fonts-wqy-zenhei | fonts-noto-cjk, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xdg-utils")

include(CPack)
