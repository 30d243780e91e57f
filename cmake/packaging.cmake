# What `cmake --install` puts where, and the packages CPack makes of it:
# a .deb of a Linux build, a tarball of a static Linux build, a .zip of the
# Windows builds (x64 and x86). scripts/package sets SOURCE_DATE_EPOCH, so
# that each comes out the same from any clone at any time.

if(WIN32 OR QUILL_STATIC)
	# A flat folder: the programs, how to use them and the stream they
	# write (which the manual pages name).
	install(FILES README.md LICENSE docs/protocol.md DESTINATION .
		COMPONENT docs)
endif()

if(WIN32)
	set(QUILL_WIN32_BUILD "" CACHE PATH
		"Windows x86 build to put beside this one in the .zip")
	set(CPACK_GENERATOR ZIP)
	set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-windows)
	set(package ${CPACK_PACKAGE_FILE_NAME}.zip)
	# The documents once, at the top; each build's program in its folder.
	set(CPACK_INSTALL_CMAKE_PROJECTS
		"${CMAKE_BINARY_DIR};${PROJECT_NAME};docs;/"
		"${CMAKE_BINARY_DIR};${PROJECT_NAME};Unspecified;/x64")
	if(QUILL_WIN32_BUILD)
		list(APPEND CPACK_INSTALL_CMAKE_PROJECTS
			"${QUILL_WIN32_BUILD};${PROJECT_NAME};Unspecified;/x86")
	endif()
elseif(QUILL_STATIC)
	# Runs on any Linux of its processor: unpack and go.
	foreach(page quillsend_nix.1 quillrecv.1)
		configure_file(man/${page} man/${page} @ONLY)
		install(FILES ${CMAKE_BINARY_DIR}/man/${page} DESTINATION .)
	endforeach()
	set(CPACK_GENERATOR TGZ)
	set(CPACK_PACKAGE_FILE_NAME
		${PROJECT_NAME}-${PROJECT_VERSION}-linux-${QUILL_TARBALL_ARCH})
	set(package ${CPACK_PACKAGE_FILE_NAME}.tar.gz)
else()
	# Manual pages carry the version and go compressed, as Debian wants
	# them (gzip -n: no name or time stamp inside).
	set(docdir ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})
	foreach(page quillsend_nix.1 quillrecv.1)
		configure_file(man/${page} man/${page} @ONLY)
		add_custom_command(OUTPUT man/${page}.gz
			COMMAND gzip -9nc man/${page} > man/${page}.gz
			DEPENDS ${CMAKE_BINARY_DIR}/man/${page})
		list(APPEND pages ${CMAKE_BINARY_DIR}/man/${page}.gz)
	endforeach()
	add_custom_command(OUTPUT changelog.gz
		COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/cmake/deb/changelog > changelog.gz
		DEPENDS cmake/deb/changelog)
	add_custom_target(manpages ALL DEPENDS ${pages} changelog.gz)
	install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
	# The license goes in copyright, where Debian looks for it.
	install(FILES README.md docs/protocol.md cmake/deb/copyright
		${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${docdir})

	set(CPACK_GENERATOR DEB)
	set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${QUILL_DEB_ARCH})
	set(package ${PROJECT_NAME}_${PROJECT_VERSION}_${QUILL_DEB_ARCH}.deb)
	set(CPACK_DEBIAN_FILE_NAME ${package})
	set(CPACK_DEBIAN_PACKAGE_SECTION net)
	set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
	# Depend on exactly the libraries the programs link.
	set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
	# setcap, for the capability postinst gives quillsend_nix; without it
	# the program still runs as root, and postinst says what to do.
	set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libcap2-bin)
	set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/deb/postinst)
	set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
	set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The quillsend developers")
set(CPACK_PACKAGE_CONTACT "The quillsend developers <quillsend@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
	"quillsend_nix listens on TCP port 21, and when a device connects it\n\
writes one file's name, size and content on the connection. quillrecv\n\
receives such a file, standing in for the device.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
include(CPack)
# The package's file name, for scripts/test to find it in dist/.
file(WRITE ${CMAKE_BINARY_DIR}/package-file ${package})
