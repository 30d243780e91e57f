/*
 * Preloaded into quillsend_nix by the tests to cause what cannot be caused
 * from outside. Names in QUILL_FAULTS (see faults.h):
 *
 *	socket=E, setsockopt=E, listen=E	the call fails with errno E
 *	accept=K	the first K accepts fail with ECONNABORTED
 *	sendmax=N	each send takes at most N bytes
 *	sendfail=K	the K-th send, counting from 1, fails with ECONNRESET
 *	sendpipe=K	the K-th send finds the connection shut: the kernel
 *			fails it with EPIPE and raises SIGPIPE
 *	readfail=N	reads fail with EISDIR once N bytes have been read
 *	seekfail=E, tellfail=E	fseeko, ftello fail with errno E
 *	writemax=N	each write takes at most N bytes
 *	writefail=E	writes fail with errno E
 *	fsyncfail=E	fsync fails with errno E
 *	connect=K	the first K connects fail with ECONNREFUSED
 *	dirsync=E, poll=E	a folder's fsync, poll fail with errno E
 *	pollscale=N	a poll waits N/1000 of its time-out (none stays none),
 *			so that a long one is seen soon, a short one at all
 *	opensig=S, mkdirsig=S, renamesig=S, rmdirsig=S
 *			signal S is raised once an open that creates a
 *			file, mkdir, rename (or renameat2), rmdir succeeds
 *	pid=N		getpid returns N
 */
#define _GNU_SOURCE
/* Both offset widths are wrapped by name below. */
#undef _FILE_OFFSET_BITS
#include <sys/types.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdio_ext.h>
#include <unistd.h>

#define QUILL_FAULT_NAMES ",socket,setsockopt,listen,accept,sendmax,sendfail," \
	"sendpipe,readfail,seekfail,tellfail,writemax,writefail,fsyncfail," \
	"dirsync,connect,poll,pollscale,opensig,mkdirsig,renamesig,rmdirsig," \
	"pid,"
#include "faults.h"

/* Raises the signal that fault name asks for, if any. */
static void
raised(const char *name)
{
	if (quill_fault(name) > 0)
		raise((int)quill_fault(name));
}

#define REAL(name) \
	static __typeof__(name) *real; \
	if (real == NULL) \
		real = (__typeof__(name) *)dlsym(RTLD_NEXT, #name)

static int
fail(const char *name)
{
	long e = quill_fault(name);

	if (e <= 0)
		return 0;
	errno = (int)e;
	return 1;
}

int
socket(int domain, int type, int protocol)
{
	REAL(socket);
	return fail("socket") ? -1 : real(domain, type, protocol);
}

int
setsockopt(int fd, int level, int name, const void *val, socklen_t len)
{
	REAL(setsockopt);
	return fail("setsockopt") ? -1 : real(fd, level, name, val, len);
}

int
listen(int fd, int backlog)
{
	REAL(listen);
	return fail("listen") ? -1 : real(fd, backlog);
}

int
accept(int fd, struct sockaddr *addr, socklen_t *len)
{
	static long failed;

	REAL(accept);
	if (failed < quill_fault("accept")) {
		failed++;
		errno = ECONNABORTED;
		return -1;
	}
	return real(fd, addr, len);
}

ssize_t
send(int fd, const void *buf, size_t len, int flags)
{
	static long calls;
	long max = quill_fault("sendmax");

	REAL(send);
	if (++calls == quill_fault("sendfail")) {
		errno = ECONNRESET;
		return -1;
	}
	if (calls == quill_fault("sendpipe"))
		shutdown(fd, SHUT_WR);
	if (max > 0 && len > (size_t)max)
		len = (size_t)max;
	return real(fd, buf, len, flags);
}

size_t
fread(void *buf, size_t size, size_t n, FILE *f)
{
	static long long total;
	long at = quill_fault("readfail");
	size_t got;
	int d;

	REAL(fread);
	if (at >= 0 && total >= at &&
	    (d = open("/", O_RDONLY | O_DIRECTORY)) >= 0) {
		/*
		 * Reading a directory fails for real, setting the error flag;
		 * what stdio holds already is dropped so that it reads now.
		 */
		dup2(d, fileno(f));
		close(d);
		__fpurge(f);
	}
	got = real(buf, size, n, f);
	total += (long long)(got * size);
	return got;
}

/* The program calls the 64-bit forms; the plain ones are for other builds. */
#define SEEK_FAULT(name, off) \
int \
name(FILE *f, off o, int whence) \
{ \
	REAL(name); \
	return fail("seekfail") ? -1 : real(f, o, whence); \
}
#define TELL_FAULT(name, off) \
off \
name(FILE *f) \
{ \
	REAL(name); \
	return fail("tellfail") ? -1 : real(f); \
}
SEEK_FAULT(fseeko, off_t)
SEEK_FAULT(fseeko64, off64_t)
TELL_FAULT(ftello, off_t)
TELL_FAULT(ftello64, off64_t)

#define OPEN_FAULT(name) \
int \
name(const char *path, int flags, ...) \
{ \
	va_list ap; \
	mode_t mode = 0; \
	REAL(name); \
	int fd; \
	if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) { \
		va_start(ap, flags); \
		mode = (mode_t)va_arg(ap, int); \
		va_end(ap); \
	} \
	if ((fd = real(path, flags, mode)) >= 0 && (flags & O_CREAT)) \
		raised("opensig"); \
	return fd; \
}
OPEN_FAULT(open)
OPEN_FAULT(open64)

ssize_t
write(int fd, const void *buf, size_t len)
{
	long max = quill_fault("writemax");

	REAL(write);
	if (fail("writefail"))
		return -1;
	if (max > 0 && len > (size_t)max)
		len = (size_t)max;
	return real(fd, buf, len);
}

int
fsync(int fd)
{
	struct stat64 st;

	REAL(fsync);
	if (fstat64(fd, &st) == 0 && S_ISDIR(st.st_mode) && fail("dirsync"))
		return -1;
	return fail("fsyncfail") ? -1 : real(fd);
}

int
connect(int fd, const struct sockaddr *addr, socklen_t len)
{
	static long refused;

	REAL(connect);
	if (refused++ < quill_fault("connect")) {
		errno = ECONNREFUSED;
		return -1;
	}
	return real(fd, addr, len);
}

int
poll(struct pollfd *fds, nfds_t n, int timeout)
{
	long scale = quill_fault("pollscale");

	REAL(poll);
	if (fail("poll"))
		return -1;
	if (scale >= 0 && timeout > 0)
		timeout = (int)((long long)timeout * scale / 1000);
	return real(fds, n, timeout);
}

int
mkdir(const char *path, mode_t mode)
{
	int r;

	REAL(mkdir);
	if ((r = real(path, mode)) == 0)
		raised("mkdirsig");
	return r;
}

int
rmdir(const char *path)
{
	int r;

	REAL(rmdir);
	if ((r = real(path)) == 0)
		raised("rmdirsig");
	return r;
}

int
rename(const char *from, const char *to)
{
	int r;

	REAL(rename);
	if ((r = real(from, to)) == 0)
		raised("renamesig");
	return r;
}

int
renameat2(int fromdir, const char *from, int todir, const char *to,
    unsigned flags)
{
	int r;

	REAL(renameat2);
	if ((r = real(fromdir, from, todir, to, flags)) == 0)
		raised("renamesig");
	return r;
}

pid_t
getpid(void)
{
	REAL(getpid);
	return quill_fault("pid") > 0 ? (pid_t)quill_fault("pid") : real();
}
