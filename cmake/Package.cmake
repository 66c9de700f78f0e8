# `cpack -G DEB` in a build tree configured with CMAKE_INSTALL_PREFIX=/usr makes
# qopra_<version>_amd64.deb. Library dependencies come from the binaries; the programs that are run
# rather than linked are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qopra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Qopra developers <qopra@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print server for the tablets and phones of the local network")
# The summary above is the first line, this is the rest (no semicolons: CMake would split there).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Qopra prints on the CUPS printers of this computer what the devices of the\n"
    "local network send it. A device finds it with a UDP datagram, Qopra connects\n"
    "back, offers its printers under the names you choose and answers each print\n"
    "with a result and the printer's status. It runs on the desktop or as a system\n"
    "service (qopra.service). qopra-pad checks a server from another machine.")
string(JOIN "" CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# 7za unpacks every document; lpstat and lpadmin list and set up the queues to offer; the system
# user of the service is made with adduser. The CUPS library itself comes with the binaries' list.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "p7zip-full, cups-client, adduser")
# A local scheduler to print on (unless CUPS_SERVER names another); CJK fonts for Chinese and
# Japanese documents.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups, fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/resources/debian/postinst
                                       ${CMAKE_SOURCE_DIR}/resources/debian/prerm
                                       ${CMAKE_SOURCE_DIR}/resources/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
