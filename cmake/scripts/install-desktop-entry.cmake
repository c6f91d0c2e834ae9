# Runs at install time (from cmake/install.cmake): writes the desktop entry
# into the install prefix with Exec and Icon pointing at the installed files.
# Input: PALLWICK_DESKTOP_TEMPLATE, CMAKE_INSTALL_PREFIX, optional DESTDIR.

get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
file(READ "${PALLWICK_DESKTOP_TEMPLATE}" entry)

# Exec's program is a quoted argument: inside the quotes \ " ` $ take a
# backslash; then the string rule doubles every backslash once more, and a
# percent sign is doubled for the field-code rule.
set(exec "${prefix}/pallwick")
string(REPLACE "\\" "\\\\" exec "${exec}")
string(REPLACE "\"" "\\\"" exec "${exec}")
string(REPLACE "`" "\\`" exec "${exec}")
string(REPLACE "$" "\\$" exec "${exec}")
string(REPLACE "\\" "\\\\" exec "${exec}")
string(REPLACE "%" "%%" exec "${exec}")

set(icon "${prefix}/pallwick.png")
string(REPLACE "\\" "\\\\" icon "${icon}")

# Literal replacement of the whole lines, so nothing in the paths is read as
# a regular expression.
string(REGEX MATCH "\nExec=[^\n]*" oldExec "${entry}")
string(REPLACE "${oldExec}" "\nExec=\"${exec}\"" entry "${entry}")
string(REGEX MATCH "\nIcon=[^\n]*" oldIcon "${entry}")
string(REPLACE "${oldIcon}" "\nIcon=${icon}" entry "${entry}")

get_filename_component(name "${PALLWICK_DESKTOP_TEMPLATE}" NAME)
set(target "$ENV{DESTDIR}${prefix}/${name}")
message(STATUS "Installing: ${target}")
file(WRITE "${target}" "${entry}")
# Launchers ask for the executable bit before they trust an entry outside
# the system's application folders.
file(CHMOD "${target}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
