# What Explorer shows of a Windows program: a version resource (its
# Details tab) and the icon. A program gets them with one call:
#
#	quill_windows_resource(TARGET "description")
#
# The description becomes FileDescription; the version is the project's,
# the copyright LICENSE's copyright line. Nothing in either names a time or
# a folder, so every build of a commit gives the same bytes.
enable_language(RC)

file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE QUILL_COPYRIGHT
	REGEX "^Copyright " LIMIT_COUNT 1)
if(NOT QUILL_COPYRIGHT)
	message(FATAL_ERROR "LICENSE: no line starting with Copyright")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
	LICENSE cmake/icon.py)

# The icon is made here, when the build is configured, from cmake/icon.py.
find_program(QUILL_PYTHON3 python3 REQUIRED)
set(QUILL_ICON ${CMAKE_BINARY_DIR}/quillsend.ico)
execute_process(COMMAND ${QUILL_PYTHON3} ${PROJECT_SOURCE_DIR}/cmake/icon.py
	${QUILL_ICON}.new COMMAND_ERROR_IS_FATAL ANY)
file(COPY_FILE ${QUILL_ICON}.new ${QUILL_ICON} ONLY_IF_DIFFERENT)
file(REMOVE ${QUILL_ICON}.new)

function(quill_windows_resource target description)
	set(v ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)
	set(version ${PROJECT_VERSION}.0)
	# A string in a resource script doubles its quotes.
	string(REPLACE "\"" "\"\"" description "${description}")
	string(REPLACE "\"" "\"\"" copyright "${QUILL_COPYRIGHT}")
	set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
	# Numbers for winver.h's names, which need no header: FILEOS
	# VOS_NT_WINDOWS32, FILETYPE VFT_APP; US English, Unicode.
	file(CONFIGURE OUTPUT ${rc} @ONLY CONTENT "\
1 ICON \"@QUILL_ICON@\"

1 VERSIONINFO
FILEVERSION @v@
PRODUCTVERSION @v@
FILEFLAGSMASK 0x3f
FILEFLAGS 0
FILEOS 0x40004
FILETYPE 1
FILESUBTYPE 0
BEGIN
	BLOCK \"StringFileInfo\"
	BEGIN
		BLOCK \"040904b0\"
		BEGIN
			VALUE \"FileDescription\", \"@description@\"
			VALUE \"FileVersion\", \"@version@\"
			VALUE \"InternalName\", \"@target@\"
			VALUE \"LegalCopyright\", \"@copyright@\"
			VALUE \"OriginalFilename\", \"@target@.exe\"
			VALUE \"ProductName\", \"@PROJECT_NAME@\"
			VALUE \"ProductVersion\", \"@version@\"
		END
	END
	BLOCK \"VarFileInfo\"
	BEGIN
		VALUE \"Translation\", 0x409, 1200
	END
END
")
	target_sources(${target} PRIVATE ${rc})
	# windres reads the icon, which no dependency scan finds.
	set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${QUILL_ICON})
endfunction()
