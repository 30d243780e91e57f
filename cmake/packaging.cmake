# What `cmake --install` puts where, and the packages CPack makes of it:
# a .deb of the Linux build, a .zip of the Windows builds (x64 and x86).

if(WIN32)
	# A flat folder: the program and how to use it.
	install(FILES README.md LICENSE DESTINATION .)
	set(QUILL_WIN32_BUILD "" CACHE PATH
		"Windows x86 build to put beside this one in the .zip")
	set(CPACK_GENERATOR ZIP)
	set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-windows)
	set(CPACK_INSTALL_CMAKE_PROJECTS
		"${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/x64")
	if(QUILL_WIN32_BUILD)
		list(APPEND CPACK_INSTALL_CMAKE_PROJECTS
			"${QUILL_WIN32_BUILD};${PROJECT_NAME};ALL;/x86")
	endif()
else()
	install(FILES man/quillsend_nix.1 man/quillrecv.1
		DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
	install(FILES README.md LICENSE docs/protocol.md
		DESTINATION ${CMAKE_INSTALL_DOCDIR})
	set(CPACK_GENERATOR DEB)
	set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
	set(CPACK_DEBIAN_PACKAGE_SECTION net)
	# Depend on exactly the libraries the programs link.
	set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
	set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The quillsend developers")
set(CPACK_PACKAGE_CONTACT "The quillsend developers <quillsend@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
	"quillsend_nix listens on TCP port 21, and when a device connects it\n\
writes one file's name, size and content on the connection. quillrecv\n\
receives such a file, standing in for the device.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
include(CPack)
