# The hardening Debian gives its packages (dpkg-buildflags with
# hardening=+all), for every Release build of the Linux programs: stack
# protector, _FORTIFY_SOURCE, PIE, full RELRO and immediate binding; a
# static build is static-pie where the C library allows it. The Windows
# programs keep ASLR and DEP. Every build maps the source and build
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
	set(CMAKE_POSITION_INDEPENDENT_CODE ON)
	set(release $<CONFIG:Release>)
	add_compile_options(-Wformat -Werror=format-security
		$<${release}:-fstack-protector-strong>)
	add_compile_definitions($<${release}:_FORTIFY_SOURCE=2>)
	add_link_options($<${release}:LINKER:-z,relro,-z,now>)
	if(QUILL_STATIC)
		# Not every C library links a fortified program static-pie:
		# armhf's lacks the start file, i386's checked memset cannot be
		# called from position-independent code.
		include(CheckCSourceCompiles)
		set(CMAKE_REQUIRED_FLAGS "-O2 -D_FORTIFY_SOURCE=2 -fPIE")
		set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
		check_c_source_compiles("#include <string.h>
			int main(int c, char **v) { char b[8]; memset(b, c, (size_t)c);
			return b[1] + (v != 0); }" QUILL_STATIC_PIE)
		unset(CMAKE_REQUIRED_FLAGS)
		unset(CMAKE_REQUIRED_LINK_OPTIONS)
		if(QUILL_STATIC_PIE)
			add_link_options(-static-pie)
		else()
			set(CMAKE_POSITION_INDEPENDENT_CODE OFF)
			add_link_options(-static)
		endif()
	else()
		include(CheckPIESupported)
		check_pie_supported()
	endif()
endif()
