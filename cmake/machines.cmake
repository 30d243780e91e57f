# The machine a build is for, from its compiler's GNU triple: the Debian
# architecture of its .deb, the qemu-user program that runs it on another
# machine and the oldest processor its files claim (qemu's -cpu; "-" for
# qemu's default), and the name of its static tarball.
execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpmachine
	OUTPUT_VARIABLE QUILL_MACHINE OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX REPLACE "-(pc|unknown)-" "-" QUILL_MACHINE "${QUILL_MACHINE}")

# Debian's armel compiler makes ARMv5TE code with soft-float calls, which
# runs on every ARMv6 processor (Raspberry Pi 1 and Zero) and later,
# whatever float ABI the system uses.
#	GNU triple		Debian	qemu	-cpu		tarball
set(machines
	"x86_64-linux-gnu	amd64	x86_64	-		x86_64"
	"i686-linux-gnu		i386	i386	-		i386"
	"aarch64-linux-gnu	arm64	aarch64	cortex-a53	aarch64"
	"arm-linux-gnueabihf	armhf	arm	cortex-a7	armhf"
	"arm-linux-gnueabi	armel	arm	arm1176		armv6"
	"riscv64-linux-gnu	riscv64	riscv64	-		riscv64"
	"s390x-linux-gnu	s390x	s390x	-		s390x")
foreach(m IN LISTS machines)
	string(REGEX MATCHALL "[^\t]+" m "${m}")
	list(GET m 0 triple)
	if(triple STREQUAL QUILL_MACHINE)
		list(GET m 1 QUILL_DEB_ARCH)
		list(GET m 2 QUILL_QEMU)
		list(GET m 3 QUILL_QEMU_CPU)
		list(GET m 4 QUILL_TARBALL_ARCH)
	endif()
endforeach()
