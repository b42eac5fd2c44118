# Run by `cmake --install`: writes the desktop entries with the installed tolbex in their Exec
# lines, quoted as the desktop entry format wants an argument (so a prefix with a blank or a
# quote starts the program): \ " ` $ escaped inside the quotes, then every backslash of the value
# escaped once more, and % doubled.
set(program "${CMAKE_INSTALL_PREFIX}/${tv_bindir}/tolbex")
string(REPLACE "\\" "\\\\" program "${program}")
foreach(c "\"" "`" "$")
  string(REPLACE "${c}" "\\${c}" program "${program}")
endforeach()
string(REPLACE "\\" "\\\\" program "${program}")
string(REPLACE "%" "%%" program "${program}")
foreach(entry torvane-tolbex torvane-tolbex-mail)
  file(READ "${tv_entries_from}/${entry}.desktop.in" text)
  string(REPLACE "@PROGRAM@" "\"${program}\"" text "${text}")
  set(to "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${tv_datadir}/applications/${entry}.desktop")
  message(STATUS "Installing: ${to}")
  file(WRITE "${to}" "${text}")
endforeach()
