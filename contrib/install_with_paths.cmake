# Run at install time (included from install(CODE)): copies ZORBEL_SRC into
# the directory ZORBEL_DEST with the standard program directory replaced
# by this installation's (ZORBEL_SBIN, ZORBEL_BIN), so the units and the inetd lines
# start the programs that were installed with them.
file(READ "${ZORBEL_SRC}" zorbel_text)
string(REPLACE "/opt/quesk/zorbel/sbin/" "${ZORBEL_SBIN}/" zorbel_text "${zorbel_text}")
string(REPLACE "/opt/quesk/zorbel/bin/" "${ZORBEL_BIN}/" zorbel_text "${zorbel_text}")
get_filename_component(zorbel_name "${ZORBEL_SRC}" NAME)
set(zorbel_target "$ENV{DESTDIR}${ZORBEL_DEST}/${zorbel_name}")
message(STATUS "Installing: ${zorbel_target}")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${ZORBEL_DEST}")
file(WRITE "${zorbel_target}" "${zorbel_text}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${zorbel_target}")
