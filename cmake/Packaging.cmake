# Installation and the Debian package.
#
# Included from the top-level CMakeLists.txt after the program's target is
# defined. `cmake --install` lays out the program, its menu entry, its icons
# and its AppStream description; `cmake --build <dir> --target package` wraps
# the same layout into lijekovi_<version>_<arch>.deb.

include(GNUInstallDirs)

if(NOT TARGET lijekovi)
    message(FATAL_ERROR "Packaging.cmake needs the lijekovi target; include it after app/")
endif()

# The reverse-DNS id names the menu entry, the icon and the AppStream data;
# the program announces the same id (QGuiApplication::setDesktopFileName) so
# desktops match its window to the entry.
set(LIJEKOVI_APP_ID hr.tervalis.lijekovi)
set(LIJEKOVI_ICON_SIZES 16 22 24 32 48 64 128 256)
set(_dist "${CMAKE_CURRENT_LIST_DIR}/../dist")

install(TARGETS lijekovi
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    BUNDLE DESTINATION .)

if(UNIX AND NOT APPLE)
    install(FILES "${_dist}/${LIJEKOVI_APP_ID}.desktop"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES "${_dist}/${LIJEKOVI_APP_ID}.metainfo.xml"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    foreach(size IN LISTS LIJEKOVI_ICON_SIZES)
        install(FILES "${_dist}/icons/hicolor/${size}x${size}/apps/${LIJEKOVI_APP_ID}.png"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    install(FILES "${_dist}/icons/hicolor/scalable/apps/${LIJEKOVI_APP_ID}.svg"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# --- The Debian package ---------------------------------------------------
set(CPACK_PACKAGE_NAME lijekovi)
set(CPACK_PACKAGE_VENDOR Tervalis)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tervalis podrška <podrska@tervalis.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "register of consents to import prescription medicines")
# Debian shows the long description as it is written: keep lines short.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "A single-window desktop program, in Croatian, that keeps a pharmacy's"
    "register of consents to import prescription medicines (Suglasnost za"
    "uvoz lijekova na recept). The register is one XML file, Baza.xml, in the"
    "directory the program is started in; entries are typed, browsed,"
    "deleted and exported as semicolon-separated text.")
set(CPACK_STRIP_FILES ON)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(CPACK_GENERATOR DEB)
elseif(WIN32)
    set(CPACK_GENERATOR ZIP)
else()
    set(CPACK_GENERATOR TGZ)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (from dpkg-dev) reads the program's libraries and names the
# Debian packages that provide them: libqt6widgets6, libqt6gui6 and so on.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads the display plugin (xcb) at run time, so no library link shows it;
# libqt6gui6 only recommends the package that has it, and a system that skips
# recommends would get a program that cannot open its window.
# The window's captions are laid out for Arial's widths, which Liberation Sans
# has; the program fits its labels to any other font, but smaller where they
# are too wide. Qt's own texts (the save dialog's) come in Croatian from
# Qt's translations, which no library link shows either.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-translations-l10n, fonts-liberation2 | fonts-liberation")

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    find_program(LIJEKOVI_DPKG_SHLIBDEPS dpkg-shlibdeps)
    if(NOT LIJEKOVI_DPKG_SHLIBDEPS)
        message(WARNING "dpkg-shlibdeps not found (Debian package dpkg-dev): "
                        "`--target package` will fail to work out the package's dependencies")
    endif()
endif()

include(CPack)
