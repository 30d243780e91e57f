# What `cmake --install` puts where, and the packages CPack makes of it:
# a .deb of a Linux build, a tarball of a static Linux build, a .zip of the
# Windows builds (x64 and x86). scripts/package sets SOURCE_DATE_EPOCH, so
# that each comes out the same from any clone at any time. Every package
# has README.md made for it (below) with protocol.md beside it.
set(readme ${CMAKE_BINARY_DIR}/README.md)

if(WIN32 OR QUILL_STATIC)
	# A flat folder: the programs, how to use them and the stream they
	# write (which the manual pages name).
	install(FILES ${readme} LICENSE docs/protocol.md DESTINATION .
		COMPONENT docs)
endif()

if(WIN32)
	set(QUILL_WIN32_BUILD "" CACHE PATH
		"Windows x86 build to put beside this one in the .zip")
	set(CPACK_GENERATOR ZIP)
	set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-windows)
	set(package ${CPACK_PACKAGE_FILE_NAME}.zip)
	# No folder around it all: Explorer's Extract All makes one of the
	# .zip's name, so x64\ lands in quillsend-VERSION-windows\.
	set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
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
	install(FILES ${readme} docs/protocol.md cmake/deb/copyright
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

# The package's README is the project's, for whoever unpacked the package:
# the block marked as for the source only (its commands, the way to the
# developers' notes) gives way to a line naming the package and, from the
# Download table, what it is for; and protocol.md lies beside the README
# in every package, not in docs/.
file(READ README.md text)
string(FIND "${text}" "<!-- source only" from)
string(FIND "${text}" "<!-- end of source only -->\n" to)
if(from EQUAL -1 OR to LESS from)
	message(FATAL_ERROR "README.md: no block marked as for the source only")
endif()
string(REPLACE "." "\\." pattern "${package}")
if(text MATCHES "\n\\| `${pattern}` +\\| ([^\n]*[^ \n]) +\\|")
	set(what ": ${PROJECT_NAME} ${PROJECT_VERSION} for ${CMAKE_MATCH_1}")
else()
	set(what "")	# a build that is not released, such as s390x
endif()
string(LENGTH "<!-- end of source only -->\n" n)
math(EXPR to "${to} + ${n}")
string(SUBSTRING "${text}" 0 ${from} head)
string(SUBSTRING "${text}" ${to} -1 tail)
string(REGEX REPLACE "^\n+" "" tail "${tail}")
string(REPLACE "docs/protocol.md" "protocol.md" tail "${tail}")
file(WRITE ${readme}.new "${head}This README came with `${package}`${what}. \
[Download](#download) says what it holds and how to install it; \
[The first transfer](#the-first-transfer) is where to begin.\n\n${tail}")
# Written over only when it changed; made again when README.md changes.
file(COPY_FILE ${readme}.new ${readme} ONLY_IF_DIFFERENT)
file(REMOVE ${readme}.new)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS README.md)

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
