/*
 * quillrecv: stand-in for the device. Connects to a running sender, reads
 * the transfer stream and saves the file under its base name in a folder;
 * a file of that name already there is kept, and the new one saved under
 * the first free NAME.1, NAME.2, ... unless --force replaces it.
 *
 *	quillrecv [--host HOST] [--port PORT] [--output DIR] [--wait SECONDS]
 *	    [--timeout SECONDS] [--force]
 *
 * Exit status 0 only when the file arrived whole; only then does it get a
 * name in the folder, so a broken or interrupted stream leaves nothing.
 * The receiving rules are receive.cpp's, the options and the words that
 * say how a transfer ended command.cpp's; this is their POSIX port (the
 * quill_port_* functions) and the run's steps around them.
 * Whatever the sender writes is hostile until checked: nothing of it
 * reaches the terminal raw.
 */
#include <sys/types.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <math.h>
#include <nss.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "command.h"
#include "names.h"
#include "receive.h"

/*
 * The file being received. With O_TMPFILE it has no name until it is
 * whole; otherwise tmppath names it, and die() and the signal handler
 * remove it. It changes only with those signals held (hold_ends), and names
 * a file only once the file is ours.
 */
static char tmppath[PATH_MAX];
static const int ends[] = { SIGINT, SIGTERM, SIGHUP };
static int bar;			/* standard error is a terminal */

/* The port's state, which quill_receive hands to each quill_port_* call. */
struct port {
	int		 fd;		/* the connection to the sender */
	int		 out;		/* the file being received */
	const char	*dir;
	double		 timeout;	/* seconds without a byte; 0: none */
	int		 force;		/* replace a file of the same name */
	char		 path[PATH_MAX];	/* named once the header is whole */
	char		 failed[8 * PATH_MAX];	/* why the port failed */
};

/* Prints "quillrecv: " and the message on standard error and exits 1. */
static void __attribute__((noreturn, format(printf, 1, 2)))
die(const char *fmt, ...)
{
	va_list ap;

	if (tmppath[0] != '\0')
		unlink(tmppath);
	va_start(ap, fmt);
	quill_vwarnx(fmt, ap);
	va_end(ap);
	exit(1);
}

/* Records why the port failed, for main to say; returns -1. */
static int __attribute__((format(printf, 2, 3)))
failure(struct port *p, const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	vsnprintf(p->failed, sizeof(p->failed), fmt, ap);
	va_end(ap);
	return -1;
}

/*
 * A signal that ends the run: the partial file goes, then the signal takes
 * its usual course, so the exit status tells which one it was.
 */
static void
interrupted(int sig)
{
	if (tmppath[0] != '\0')
		unlink(tmppath);
	signal(sig, SIG_DFL);
	raise(sig);
}

/*
 * Holds back the signals that end the run (hold 1) or lets them through
 * again (hold 0), around every change of tmppath. Leaves errno alone.
 */
static void
hold_ends(int hold)
{
	static sigset_t was;
	sigset_t set;
	unsigned i;

	if (!hold) {
		sigprocmask(SIG_SETMASK, &was, NULL);
		return;
	}
	sigemptyset(&set);
	for (i = 0; i < sizeof(ends) / sizeof(ends[0]); i++)
		sigaddset(&set, ends[i]);
	sigprocmask(SIG_BLOCK, &set, &was);
}

/*
 * Connects to host:port, retrying every 100 ms while nothing listens there,
 * for up to wait seconds in all: an attempt that gets no answer ends with
 * them. With wait 0 it tries once, and only the kernel bounds that try.
 * Returns the socket or ends the program.
 */
static int
connect_sender(const char *host, const char *port, double wait)
{
	struct addrinfo hints, *res;
	struct timespec pause = { 0, 100 * 1000 * 1000 };
	struct timeval bound;
	double end = quill_now() + wait, left;
	int fd, e;

	memset(&hints, 0, sizeof(hints));
	hints.ai_family = AF_INET;
	hints.ai_socktype = SOCK_STREAM;
	if ((e = getaddrinfo(host, port, &hints, &res)) != 0)
		die("%s port %s: %s", host, port, gai_strerror(e));
	for (;;) {
		if ((fd = socket(res->ai_family, res->ai_socktype,
		    res->ai_protocol)) < 0)
			die("socket: %s", strerror(errno));
		/* connect gives up with EINPROGRESS when the wait is over. */
		if (wait > 0) {
			if ((left = end - quill_now()) < 0.001)
				left = 0.001;
			bound.tv_sec = (time_t)left;
			bound.tv_usec = (suseconds_t)((left - (double)bound.tv_sec) *
			    1e6);
			setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound,
			    sizeof(bound));
		}
		if (connect(fd, res->ai_addr, res->ai_addrlen) == 0)
			break;
		e = errno;
		close(fd);
		if (e == EINPROGRESS)
			die("connect to %s port %s: no answer in %g s", host,
			    port, wait);
		if (e != ECONNREFUSED || quill_now() >= end)
			die("connect to %s port %s: %s", host, port,
			    strerror(e));
		nanosleep(&pause, NULL);
	}
	freeaddrinfo(res);
	return fd;
}

/*
 * Makes folder dir and those above it that are missing, as mkdir -p does.
 * Returns 0, or -1 with errno set.
 */
static int
make_dirs(const char *dir)
{
	char path[PATH_MAX];
	size_t i, len = strlen(dir);

	if (len >= sizeof(path)) {
		errno = ENAMETOOLONG;
		return -1;
	}
	memcpy(path, dir, len + 1);
	for (i = 1; i <= len; i++) {
		if ((path[i] != '/' && path[i] != '\0') || path[i - 1] == '/')
			continue;
		path[i] = '\0';
		/* Whether what is there is a folder, the file's making tells. */
		if (mkdir(path, 0777) < 0 && errno != EEXIST)
			return -1;
		path[i] = dir[i];
	}
	return 0;
}

/*
 * Makes the file that receives the data, in dir: unnamed when the file
 * system allows it (returns with tmppath empty), else a temporary file
 * named in tmppath. Returns its descriptor or ends the program.
 */
static int
make_file(const char *dir)
{
	char name[PATH_MAX];
	int out;

	if ((out = open(dir, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666)) >= 0)
		return out;
	if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
		die("cannot save files in %s: %s", quill_show(dir),
		    strerror(errno));
	if (snprintf(name, sizeof(name), "%s/.quillrecv.XXXXXX", dir) >=
	    (int)sizeof(name))
		die("cannot save files in %s: %s", quill_show(dir),
		    strerror(ENAMETOOLONG));
	hold_ends(1);
	if ((out = mkstemp(name)) >= 0)
		memcpy(tmppath, name, sizeof(tmppath));
	hold_ends(0);
	if (out < 0)
		die("cannot save files in %s: %s", quill_show(dir),
		    strerror(errno));
	return out;
}

/*
 * Gives the whole file its name: path, or when force is not set and
 * something has that name, the first free one of path.1, path.2, ...
 * With force a file there is replaced. path, an array of PATH_MAX bytes,
 * is left holding the name tried last. Call with the signals that end the
 * run held (hold_ends): tmppath changes, and is left naming the temporary
 * file when that is still there. Returns 0, or -1 with errno set.
 */
static int
put_in_place(int out, const char *dir, char *path, int force)
{
	char proc[64], name[PATH_MAX];
	int i, made;

	snprintf(proc, sizeof(proc), "/proc/self/fd/%d", out);
	if (!force) {
		/* A link never replaces what is there, even if made meanwhile. */
		memcpy(name, path, sizeof(name));
		for (i = 1;; i++) {
			made = tmppath[0] != '\0' ? link(tmppath, path) :
			    linkat(AT_FDCWD, proc, AT_FDCWD, path,
			    AT_SYMLINK_FOLLOW);
			if (made == 0)
				break;
			if (errno != EEXIST)
				return -1;
			if (i == INT_MAX || snprintf(path, PATH_MAX, "%s.%d",
			    name, i) >= PATH_MAX) {
				errno = i == INT_MAX ? EEXIST : ENAMETOOLONG;
				return -1;
			}
		}
		if (tmppath[0] != '\0')
			unlink(tmppath);
		tmppath[0] = '\0';
		return 0;
	}
	if (tmppath[0] != '\0') {
		if (rename(tmppath, path) < 0)
			return -1;
		tmppath[0] = '\0';
		return 0;
	}
	/*
	 * Replacing: a name of its own first, then rename over the old file.
	 * A name is in tmppath only once it is ours.
	 */
	for (i = 0;; i++) {
		if (snprintf(name, sizeof(name), "%s/.quillrecv.%ld.%d", dir,
		    (long)getpid(), i) >= (int)sizeof(name)) {
			errno = ENAMETOOLONG;
			return -1;
		}
		if (linkat(AT_FDCWD, proc, AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0)
			break;
		if (errno != EEXIST)
			return -1;
	}
	memcpy(tmppath, name, sizeof(tmppath));
	if (rename(tmppath, path) < 0)
		return -1;
	tmppath[0] = '\0';
	return 0;
}

/*
 * The port's read: waits for bytes up to the time-out, drawing the bar
 * first once the header is whole. Returns a count, QUILL_CLOSED,
 * QUILL_TIMEDOUT, or QUILL_READFAIL with the reason recorded.
 */
long
quill_port_read(struct quill_receiver *r, unsigned char *buf, size_t len)
{
	struct port *p = (struct port *)r->port;
	struct pollfd pfd = { p->fd, POLLIN, 0 };
	ssize_t n;
	int ready;

	if (bar && r->dec.stage == QUILL_DATA)
		quill_bar(&r->dec, 0);
	for (;;) {
		/* Whole milliseconds up: a time-out under one is not none. */
		ready = poll(&pfd, 1, p->timeout > 0 ?
		    (int)ceil(p->timeout * 1000) : -1);
		if (ready < 0 && errno == EINTR)
			continue;
		if (ready < 0) {
			failure(p, "poll: %s", strerror(errno));
			return QUILL_READFAIL;
		}
		if (ready == 0)
			return QUILL_TIMEDOUT;
		if ((n = read(p->fd, buf, len)) >= 0)
			return (long)n;
		if (errno != EINTR) {
			failure(p, "read: %s", strerror(errno));
			return QUILL_READFAIL;
		}
	}
}

/*
 * The port's open: the file was made before connecting, so this only names
 * where it goes. Returns 0, or -1 with the reason recorded when the path is
 * too long.
 */
int
quill_port_open(struct quill_receiver *r, const char *base)
{
	struct port *p = (struct port *)r->port;

	if (snprintf(p->path, sizeof(p->path), "%s/%s", p->dir, base) >=
	    (int)sizeof(p->path))
		return failure(p, "%s/%s: path too long", quill_show(p->dir),
		    quill_show(base));
	return 0;
}

/* The port's write: all len bytes, a short write followed by the rest. */
int
quill_port_write(struct quill_receiver *r, const unsigned char *data,
    size_t len)
{
	struct port *p = (struct port *)r->port;
	ssize_t w;

	for (; len > 0; len -= (size_t)w, data += w)
		if ((w = write(p->out, data, len)) < 0)
			return failure(p, "%s: %s", quill_show(p->path),
			    strerror(errno));
	return 0;
}

/*
 * The port's commit: the whole file gets its mode, reaches the disk and
 * takes its name, then the folder is synced so that the name survives a
 * crash. Returns 0, or -1 with the reason recorded; once the file has its
 * name it stays, even when the folder's sync fails, and the reason says
 * where it is.
 */
int
quill_port_commit(struct quill_receiver *r)
{
	struct port *p = (struct port *)r->port;
	mode_t mask;
	int placed, dfd;

	if (bar)
		quill_bar_end();
	mask = umask(0);
	umask(mask);
	if (fchmod(p->out, 0666 & ~mask) < 0 || fsync(p->out) < 0)
		return failure(p, "%s: %s", quill_show(p->path),
		    strerror(errno));
	hold_ends(1);
	placed = put_in_place(p->out, p->dir, p->path, p->force);
	hold_ends(0);
	if (placed < 0)
		return failure(p, "%s: %s", quill_show(p->path),
		    strerror(errno));
	close(p->out);
	if ((dfd = open(p->dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0 ||
	    (fsync(dfd) < 0 && errno != EINVAL)) {
		/* The file has its name: say which, since discard cannot undo it. */
		failure(p, "%s: %s: %s may not survive a crash",
		    quill_show(p->dir), strerror(errno), quill_show(p->path));
		if (dfd >= 0)
			close(dfd);
		return -1;
	}
	close(dfd);
	return 0;
}

/* The port's discard: a temporary file that has a name goes. */
void
quill_port_discard(struct quill_receiver *r)
{
	(void)r;
	hold_ends(1);
	if (tmppath[0] != '\0')
		unlink(tmppath);
	tmppath[0] = '\0';
	hold_ends(0);
}

int
main(int argc, char *argv[])
{
	static unsigned char buf[64 * 1024];
	static struct quill_receiver r;
	static struct port port;
	struct quill_options o;
	struct sigaction was;
	enum quill_result res;
	unsigned i;

#ifdef QUILL_STATIC
	/*
	 * A static program must not load the system's name-service modules:
	 * they belong to another C library. Files and DNS are built in.
	 */
	__nss_configure_lookup("hosts", "files dns");
	__nss_configure_lookup("services", "files");
#endif

	/* Options */
	quill_options(argc, argv, &o);
	port.dir = o.dir;
	port.timeout = o.timeout;
	port.force = o.force;

	/*
	 * The partial file goes with the run, whatever ends it; a signal the
	 * parent left ignored (nohup, a script's background job) stays so.
	 */
	for (i = 0; i < sizeof(ends) / sizeof(ends[0]); i++)
		if (sigaction(ends[i], NULL, &was) == 0 &&
		    was.sa_handler != SIG_IGN)
			signal(ends[i], interrupted);
	bar = isatty(2);

	/* The file first: a folder that cannot take it spares the sender. */
	if (make_dirs(port.dir) < 0)
		die("cannot save files in %s: %s", quill_show(port.dir),
		    strerror(errno));
	port.out = make_file(port.dir);
	port.fd = connect_sender(o.host, o.port, o.wait);

	/* Receive: the core keeps the file only when the stream is whole. */
	if ((res = quill_receive(&r, &port, buf, sizeof(buf))) != QUILL_SAVED)
		die("%s", quill_why(&r, res, port.timeout, port.failed));
	/* Saved: say where */
	close(port.fd);
	printf("received %s: %d bytes, saved as %s\n", quill_show(r.dec.name),
	    r.dec.size, quill_show(port.path));
	return 0;
}
