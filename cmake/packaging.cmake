# What is installed, and the packages CPack makes of it (cmake --build --preset linux-i386 --target
# package): a Debian package for Linux i386 and a zip archive for Windows.
#
# Linux: softplc with everything it finds beside itself (the modules with their symbol files and
# listings, the runtime libraries, the web view's page) in /usr/lib/softplc, /usr/bin/softplc a link
# to it (softplc resolves the link, so its module and page are still found beside it), the template
# unit softplc@.service, an example configuration /etc/softplc/example.yaml (a conffile), and the
# notices of the work of others that softplc carries. Windows: the same files in one folder.

set(KX_PACKAGE_VERSION ${PROJECT_VERSION})
set(KX_PACKAGE_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})

if(WIN32)
  set(kx_lib_dir .)
else()
  set(kx_lib_dir lib/softplc)
endif()

# softplc finds its runtime libraries beside itself once installed, as the modules do.
if(NOT WIN32)
  set_target_properties(softplc PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()
install(TARGETS softplc CCodePublic CCodePublic_next KxApi_VC KXoplcK_VC
        RUNTIME DESTINATION ${kx_lib_dir}
        LIBRARY DESTINATION ${kx_lib_dir})
foreach(module CCodePublic CCodePublic_next)
  install(FILES ${bin}/${module}.symbols.json ${bin}/${module}.st DESTINATION ${kx_lib_dir})
endforeach()
install(DIRECTORY ${bin}/web DESTINATION ${kx_lib_dir})

# The notices: ours, then those of the Debian packages whose work the package carries (the
# charting library of the page) or has compiled into softplc (the command-line parser, the JSON
# library, Boost.Beast, and in the Windows build yaml-cpp).
set(kx_copyright ${CMAKE_BINARY_DIR}/packaging/copyright)
file(READ ${KX_PACKAGE_DIR}/copyright.in kx_notices)
foreach(package libjs-dygraphs libcli11-dev nlohmann-json3-dev libboost-dev libyaml-cpp-dev)
  set(notice /usr/share/doc/${package}/copyright)
  if(NOT EXISTS ${notice})
    message(FATAL_ERROR "${notice} not found: install ${package} (scripts/install-deps.sh does)")
  endif()
  file(READ ${notice} text)
  string(APPEND kx_notices "\n\n==== ${package} ====\n\n${text}")
endforeach()
file(WRITE ${kx_copyright} "${kx_notices}")

if(WIN32)
  install(FILES ${kx_copyright} DESTINATION . RENAME COPYRIGHT.txt)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  # /usr/bin/softplc, a relative link to the program in /usr/lib/softplc.
  file(CREATE_LINK ../lib/softplc/softplc ${CMAKE_BINARY_DIR}/packaging/softplc SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/softplc DESTINATION bin)
  install(FILES ${KX_PACKAGE_DIR}/softplc@.service DESTINATION /lib/systemd/system)
  install(FILES ${KX_PACKAGE_DIR}/example.yaml DESTINATION /etc/softplc)
  install(FILES ${kx_copyright} ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/softplc)
  # The manual page that the build makes from softplc's own help.
  install(FILES ${CMAKE_BINARY_DIR}/softplc.1 DESTINATION share/man/man1)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries softplc links (libmodbus, libsystemd, yaml-cpp, the C++ runtime), found by
  # dpkg-shlibdeps; the runtime libraries beside it are the package's own.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${bin})
  # gnuplot draws --plot's pictures; a service does without.
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnuplot-nox")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${KX_PACKAGE_DIR}/conffiles ${KX_PACKAGE_DIR}/postinst ${KX_PACKAGE_DIR}/prerm ${KX_PACKAGE_DIR}/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

set(CPACK_PACKAGE_NAME softplc)
set(CPACK_PACKAGE_VERSION ${KX_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR "the softplc authors")
set(CPACK_PACKAGE_CONTACT "softplc maintainers <maintainers@users.noreply.c-seed-28d693ed.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "soft PLC host running the CCodePublic module")
set(CPACK_PACKAGE_DESCRIPTION "softplc loads a compiled IEC 61131-3 application module and runs its cycles \
on a real-time or simulated clock, with traces, statistics, a debugger, Modbus TCP, a web view and online \
change. It runs as a systemd service (softplc@NAME, configured by /etc/softplc/NAME.yaml) with readiness \
and a watchdog.")
if(WIN32)
  set(CPACK_PACKAGE_FILE_NAME "softplc-${KX_PACKAGE_VERSION}-win32")
endif()
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES OFF)
include(CPack)
