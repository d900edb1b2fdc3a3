# Where Brackenvale installs, and the Debian packages that `cmake --build --preset default
# --target package` makes of it with CPack, one package per install component:
#   brackenvale           (component brackenvale) the program, Brackenrun and brackenvale-tick
#                         together in one private folder, /usr/lib/brackenvale: each finds the
#                         others beside its own executable (/proc/self/exe), so the tasks and the
#                         crontab block name them there. /usr/bin/brackenvale and
#                         /usr/bin/Brackenrun are symbolic links into it. Beside them the help
#                         page, the menu entry, the icons, the AppStream metadata, the manual
#                         pages and the PAM service /etc/pam.d/brackenvale (a conffile).
#   brackenvale-standin   (component standin) the SQL Server stand-in as
#                         /usr/bin/brackenvale-standin, a name no other package uses.
# The version of both comes from project(VERSION); the packaging sources live in packaging/.
# Included before the sources' folders, whose install() rules use the folders set here.

# The program's folder, relative to the prefix. TfrmBrackenvale::HelpPagePath finds the help
# page from there: beside the program in the build tree (bin/help), at
# ../../share/brackenvale/help when installed.
if(WIN32)
  set(BV_INSTALL_PROGRAM_DIR ${CMAKE_INSTALL_BINDIR})
  set(BV_INSTALL_HELP_DIR ${CMAKE_INSTALL_BINDIR}/help)
else()
  set(BV_INSTALL_PROGRAM_DIR lib/brackenvale)
  set(BV_INSTALL_HELP_DIR ${CMAKE_INSTALL_DATADIR}/brackenvale/help)
endif()

# The Debian packages need the program; the Windows cross-build and a build without the forms
# install only what they build.
if(WIN32 OR NOT BRACKENVALE_BUILD_GUI)
  return()
endif()

# The day of this version's release, as AppStream and the manual pages write it and as Debian's
# changelog writes it (the same day; tests/packaging compares them).
set(BV_RELEASE_DATE 2026-12-08)
set(BV_RELEASE_DATE_CHANGELOG "Tue, 08 Dec 2026 00:00:00 +0000")
set(BV_DEBIAN_REVISION 1)
set(BV_DEBIAN_VERSION ${PROJECT_VERSION}-${BV_DEBIAN_REVISION})
set(BRACKENVALE_PACKAGE_MAINTAINER
  "Brackenvale maintainers <maintainers@users.noreply.c-seed-0dc4308d.example>"
  CACHE STRING "The Maintainer of the Debian packages: name <address>")
set(BV_PACKAGE_MAINTAINER ${BRACKENVALE_PACKAGE_MAINTAINER})
set(BV_DESKTOP_ID org.brackenvale.Brackenvale)

set(bv_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(bv_staged ${CMAKE_BINARY_DIR}/packaging)

# --- The brackenvale package -------------------------------------------------------------------
# The programs themselves are installed by their folders (src/app, src/runner, src/tick).

# bin/brackenvale and bin/Brackenrun: relative links into the program's folder, so that the
# installed tree works under any prefix (and unpacked anywhere).
file(RELATIVE_PATH bv_links_to /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${BV_INSTALL_PROGRAM_DIR})
foreach(program brackenvale Brackenrun)
  file(MAKE_DIRECTORY ${bv_staged}/bin)
  file(CREATE_LINK ${bv_links_to}/${program} ${bv_staged}/bin/${program} SYMBOLIC)
  install(FILES ${bv_staged}/bin/${program} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT brackenvale)
endforeach()

install(FILES ${bv_packaging}/${BV_DESKTOP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT brackenvale)
configure_file(${bv_packaging}/${BV_DESKTOP_ID}.metainfo.xml.in
  ${bv_staged}/${BV_DESKTOP_ID}.metainfo.xml @ONLY)
install(FILES ${bv_staged}/${BV_DESKTOP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT brackenvale)

# The icon: the SVG, and PNGs rendered from it once (packaging/icons/render.sh) and committed.
install(FILES ${bv_packaging}/icons/brackenvale.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT brackenvale)
foreach(size 16 32 48 64 128 256)
  install(FILES ${bv_packaging}/icons/hicolor/${size}x${size}/apps/brackenvale.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT brackenvale)
endforeach()

# The PAM service lives in /etc whatever the prefix. Only the package carries it: a plain
# `cmake --install` does not write into the system's /etc.
install(FILES ${bv_packaging}/pam/brackenvale DESTINATION /etc/pam.d
  COMPONENT brackenvale EXCLUDE_FROM_ALL)
file(WRITE ${bv_staged}/brackenvale/conffiles "/etc/pam.d/brackenvale\n")

# --- Manual pages and the Debian changelog, compressed as Debian installs them ----------------
# gzip -9n: the highest compression, and no name or time stamp in the header, so that the same
# sources give the same packages.
set(bv_compressed)
function(bv_compress source staged)
  configure_file(${source} ${staged} @ONLY)
  add_custom_command(OUTPUT ${staged}.gz
    COMMAND gzip -9n --force --keep ${staged}
    DEPENDS ${staged}
    COMMENT "Compressing ${staged}")
  set(bv_compressed ${bv_compressed} ${staged}.gz PARENT_SCOPE)
endfunction()

foreach(page brackenvale Brackenrun brackenvale-tick brackenvale-standin)
  bv_compress(${bv_packaging}/man/${page}.1.in ${bv_staged}/man/${page}.1)
endforeach()
bv_compress(${bv_packaging}/debian/changelog.in ${bv_staged}/changelog.Debian)
add_custom_target(bv_packaging_documents ALL DEPENDS ${bv_compressed})

install(FILES ${bv_staged}/man/brackenvale.1.gz ${bv_staged}/man/Brackenrun.1.gz
  ${bv_staged}/man/brackenvale-tick.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT brackenvale)

foreach(component brackenvale standin)
  if(component STREQUAL "standin")
    set(package brackenvale-standin)
  else()
    set(package brackenvale)
  endif()
  install(FILES ${bv_packaging}/debian/copyright ${bv_staged}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

# --- The brackenvale-standin package --------------------------------------------------------
# The stand-in's executable is called standin in the build tree; the package gives it a name of
# its own.
install(PROGRAMS $<TARGET_FILE:standin> DESTINATION ${CMAKE_INSTALL_BINDIR}
  RENAME brackenvale-standin COMPONENT standin)
# Stripped like the installed targets when the install strips (CPack does).
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\"
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/brackenvale-standin\")
  endif()" COMPONENT standin)
install(FILES ${bv_staged}/man/brackenvale-standin.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT standin)

# --- CPack -------------------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brackenvale)
set(CPACK_PACKAGE_VENDOR "The Brackenvale developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL brackenvale standin)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING IGNORE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${BV_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${BV_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the executables link (Qt, unixODBC, PAM, SQLite, ...) become Depends through
# dpkg-shlibdeps, with the versions this build needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_BRACKENVALE_PACKAGE_NAME brackenvale)
# Needed beside the linked libraries: the FreeTDS ODBC driver, which its package registers in
# unixODBC's odbcinst.ini as "FreeTDS" (the driver the program names), and unixODBC's tools; the
# interface font; cron, which starts brackenvale-tick; libpam-runtime for common-auth and
# common-account, which /etc/pam.d/brackenvale includes.
set(CPACK_DEBIAN_BRACKENVALE_PACKAGE_DEPENDS
  "tdsodbc, unixodbc, fonts-ipafont-gothic, cron, libpam-runtime")
# Qt's own texts (file dialog, edit menus) in Japanese; without it they stay English.
set(CPACK_DEBIAN_BRACKENVALE_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_BRACKENVALE_PACKAGE_SUGGESTS "brackenvale-standin")
set(CPACK_DEBIAN_BRACKENVALE_PACKAGE_CONTROL_EXTRA ${bv_staged}/brackenvale/conffiles)
set(CPACK_DEBIAN_BRACKENVALE_DESCRIPTION
  "back up, restore and shrink SQL Server databases
Brackenvale protects a SQL Server or MSDE database without writing T-SQL.
From one window with a Japanese interface you name a server, log in with
Windows or SQL Server authentication, pick a database and back it up to a
file on the server, restore it from such a file, or truncate its
transaction log and shrink its files.

Backups can also be registered as SQL Server Agent jobs, or as scheduled
tasks that cron runs through the command-line runner Brackenrun.")

set(CPACK_DEBIAN_STANDIN_PACKAGE_NAME brackenvale-standin)
set(CPACK_DEBIAN_STANDIN_PACKAGE_SOURCE brackenvale)
set(CPACK_DEBIAN_STANDIN_DESCRIPTION
  "local SQL Server stand-in for trying and testing Brackenvale
brackenvale-standin speaks TDS, the SQL Server wire protocol, on the
loopback address and keeps its databases as SQLite files. Brackenvale and
Brackenrun reach it through unixODBC and FreeTDS as they reach SQL Server:
logins, backups and restores into files of its own format, log truncation,
shrinking, and msdb with a SQL Server Agent that runs its jobs.

It is a development and test tool, not a server for real data.")

include(CPack)
