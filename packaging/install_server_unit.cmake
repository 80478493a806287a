# Runs at install time (cmake --install, cpack), when the prefix is final: the unit names
# the program and its settings file where this install puts them.
# Set by the caller: BRINDLEWICK_UNIT_IN, BRINDLEWICK_BINDIR, BRINDLEWICK_SYSCONFDIR (as
# GNUInstallDirs has them) and BRINDLEWICK_CONF (empty for none).

function(brindlewick_full_dir relative out)
  if(IS_ABSOLUTE "${relative}")
    set(${out} "${relative}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${relative}" PARENT_SCOPE)
  endif()
endfunction()

brindlewick_full_dir("${BRINDLEWICK_BINDIR}" BINDIR)
# As GNUInstallDirs does for a /usr prefix: settings live in /etc, not /usr/etc.
if(CMAKE_INSTALL_PREFIX MATCHES "^/usr/?$" AND BRINDLEWICK_SYSCONFDIR STREQUAL "etc")
  set(SYSCONFDIR "/etc")
else()
  brindlewick_full_dir("${BRINDLEWICK_SYSCONFDIR}" SYSCONFDIR)
endif()

# Written straight to its place, never into the build tree: an install run as root must not
# leave files there that the builder cannot replace.
set(unit "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/systemd/system/brindlewick-server.service")
message(STATUS "Installing: ${unit}")
configure_file("${BRINDLEWICK_UNIT_IN}" "${unit}" @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${unit}")
if(BRINDLEWICK_CONF)
  file(INSTALL "${BRINDLEWICK_CONF}" DESTINATION "${SYSCONFDIR}/brindlewick")
endif()
