# The hardening Debian gives its packages (dpkg-buildflags with
# hardening=+all), for every Release build of the Linux programs: stack
# protector, _FORTIFY_SOURCE, PIE, full RELRO and immediate binding. The
# Windows programs keep ASLR and DEP. Every build maps the source and build
# folders out of what it compiles, so that no binary names where it was
# built.

if(NOT MSVC)
	add_compile_options(
		-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
		-ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
endif()

if(MINGW)
	# No link time stamp in the .exe either.
	add_link_options(LINKER:--dynamicbase LINKER:--nxcompat
		LINKER:--no-insert-timestamp)
	if(CMAKE_SIZEOF_VOID_P EQUAL 8)
		add_link_options(LINKER:--high-entropy-va)
	endif()
elseif(NOT WIN32)
	include(CheckPIESupported)
	check_pie_supported()
	set(CMAKE_POSITION_INDEPENDENT_CODE ON)
	set(release $<CONFIG:Release>)
	add_compile_options(-Wformat -Werror=format-security
		$<${release}:-fstack-protector-strong>)
	add_compile_definitions($<${release}:_FORTIFY_SOURCE=2>)
	add_link_options($<${release}:LINKER:-z,relro,-z,now>)
endif()
