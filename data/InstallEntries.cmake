# Run by `cmake --install` (and CPack) with the final prefix: writes the
# desktop entry and the browsers' native-messaging host manifests, each naming
# its program by the absolute path it has in the installed tree.

set(prefix "${CMAKE_INSTALL_PREFIX}")
set(bindir "${prefix}/${VESKO_BINDIR}")

# Writes `content` as `file` under DESTDIR, as install() does with its files.
function(vesko_install_text file content)
  set(target "$ENV{DESTDIR}${file}")
  message(STATUS "Installing: ${target}")
  get_filename_component(folder "${target}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  file(WRITE "${target}" "${content}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${target}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

# The program as the Exec key of a desktop entry: quoted when it holds a
# character the key reserves, with `"`, `` ` ``, `$` and `\` escaped inside the
# quotes, `%` doubled, and every backslash doubled again for the string value.
set(exec "${bindir}/vesko")
string(REPLACE "%" "%%" exec "${exec}")
if(exec MATCHES "[ \t\n\"'\\\\><~|&;$*?#()`]")
  string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" exec "${exec}")
  set(exec "\"${exec}\"")
endif()
string(REPLACE "\\" "\\\\" exec "${exec}")
file(READ "${VESKO_DATA_SOURCE}/${VESKO_APP_ID}.desktop.in" entry)
string(REPLACE "@VESKO_EXEC@" "${exec}" entry "${entry}")
vesko_install_text("${prefix}/${VESKO_DATADIR}/applications/${VESKO_APP_ID}.desktop" "${entry}")

# Host manifests that allow the sample extension (the IDs of extension/sample,
# as extension/install-host.sh writes them). Chromium reads the system's
# manifests from /etc/chromium, Firefox from <prefix>/lib/mozilla; under a
# prefix other than /usr they land in the matching folders of the prefix.
string(REPLACE "\\" "\\\\" host "${bindir}/vesko-extension")
string(REPLACE "\"" "\\\"" host "${host}")
if(prefix STREQUAL "/usr")
  set(sysconfdir "/etc")
else()
  set(sysconfdir "${prefix}/etc")
endif()
file(READ "${VESKO_MANIFEST_TEMPLATES}/chromium.json.in" chromium)
string(REPLACE "@VESKO_EXTENSION_PATH@" "${host}" chromium "${chromium}")
string(REPLACE "@VESKO_ALLOWED_ORIGINS@" "\"chrome-extension://gppbdjjkfnilhjhcaleadfddopglojcj/\"" chromium "${chromium}")
vesko_install_text("${sysconfdir}/chromium/native-messaging-hosts/vesko.extension.json" "${chromium}")
file(READ "${VESKO_MANIFEST_TEMPLATES}/firefox.json.in" firefox)
string(REPLACE "@VESKO_EXTENSION_PATH@" "${host}" firefox "${firefox}")
string(REPLACE "@VESKO_ALLOWED_EXTENSIONS@" "\"vesko-extension-sample@vesko.example\"" firefox "${firefox}")
vesko_install_text("${prefix}/lib/mozilla/native-messaging-hosts/vesko.extension.json" "${firefox}")
