/*
 * quillrecv: stand-in for the device. Connects to a running sender, reads
 * the transfer stream and saves the file under its base name in a folder;
 * a file of that name already there is kept, and the new one saved under
 * the first free NAME (1).EXT, NAME (2).EXT, ... unless --force replaces
 * it.
 *
 *	quillrecv [--host HOST] [--port PORT] [--output DIR] [--wait SECONDS]
 *	    [--timeout SECONDS] [--force] [--charset CHARSET]
 *
 * Exit status 0 only when the file arrived whole; only then does it get
 * its name in the folder, and whatever the folder refuses is refused before
 * the first byte of data. A broken or interrupted stream leaves nothing; a
 * run killed outright leaves its partial file, which the next run in the
 * folder removes. The receiving rules are the core's (core/), the options
 * and the words that say how a transfer ended command.cpp's; this is their
 * POSIX port (the quill_port_* functions) and the run's steps around them.
 * It needs no hard link, no /proc and no file modes, which FAT and exFAT
 * lack. Whatever the sender writes is hostile until checked: nothing of it
 * reaches the terminal raw. With --charset, a name that is not UTF-8 is
 * split on CHARSET's characters and its base saved under its UTF-8 form.
 */
#include <sys/types.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#ifndef QUILL_STATIC
#include <iconv.h>
#endif
#include <inttypes.h>
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
 * The run's own entries in the output folder: the partial file that
 * receives the data, DIR/.quillrecv.PID.N.HASH.partial, made before
 * connecting, and once the header is whole the claim, an empty folder
 * under the name the file will take. A claim is a folder so that a run
 * killed outright never leaves what passes for a received file; the
 * partial file names its claim by HASH (see name_hash), so that a later
 * run finds both (clean_up). They change only with the signals that end
 * the run held (hold_ends), and name an entry only once it is ours; die()
 * and the signal handler remove them, the claim first, since the partial
 * file is what leads a later run to it.
 */
static char partial[PATH_MAX], claim[PATH_MAX];
static const int ends[] = { SIGINT, SIGTERM, SIGHUP };
static int bar;			/* standard error is a terminal */
static const char *also;	/* a line to add to the run's last one */

/*
 * --charset, or NULL: names that are not UTF-8 are read in it, through
 * to_utf8.
 */
static const char *charset;
#ifndef QUILL_STATIC
static iconv_t to_utf8;
#endif

/* The port's state, which quill_receive hands to each quill_port_* call. */
struct port {
	int		 fd;		/* the connection to the sender */
	int		 out;		/* the partial file */
	long		 n;		/* the N of its name */
	const char	*dir;
	double		 timeout;	/* seconds without a byte; 0: none */
	int		 force;		/* replace a file of the same name */
	const char	*base;		/* the base name the core asked for */
	char		 path[PATH_MAX];	/* named once the header is whole */
	char		 failed[8 * PATH_MAX];	/* why the port failed */
};

/* Removes the run's claim, then its partial file, whichever there are. */
static void
remove_ours(void)
{
	if (claim[0] != '\0')
		rmdir(claim);
	claim[0] = '\0';
	if (partial[0] != '\0')
		unlink(partial);
	partial[0] = '\0';
}

/* Prints "quillrecv: " and the message on standard error and exits 1. */
static void __attribute__((noreturn, format(printf, 1, 2)))
die(const char *fmt, ...)
{
	va_list ap;

	remove_ours();
	va_start(ap, fmt);
	quill_vwarnx(fmt, ap);
	va_end(ap);
	if (also != NULL)
		quill_line(stderr, "quillrecv: %s", also);
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
 * A signal that ends the run: the partial file and the claim go, then the
 * signal takes its usual course, so the exit status tells which one it was.
 */
static void
interrupted(int sig)
{
	remove_ours();
	signal(sig, SIG_DFL);
	raise(sig);
}

/*
 * Holds back the signals that end the run (hold 1) or lets them through
 * again (hold 0), around every change of partial and claim. Leaves errno
 * alone.
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

/* FNV-1a of name: how a partial file names its claim. */
static uint32_t
name_hash(const char *name)
{
	uint32_t h = 2166136261u;

	for (; *name != '\0'; name++)
		h = (h ^ (unsigned char)*name) * 16777619u;
	return h;
}

/*
 * Writes into path, an array of PATH_MAX bytes, the name of this run's
 * partial file n in dir that names the claim base ("" before there is
 * one). Every such name of a run has the same length. Returns 0, or -1
 * when it does not fit.
 */
static int
partial_name(char *path, const char *dir, long n, const char *base)
{
	int len = snprintf(path, PATH_MAX, "%s/.quillrecv.%ld.%ld.%08" PRIx32
	    ".partial", dir, (long)getpid(), n, name_hash(base));

	return len >= 0 && len < PATH_MAX ? 0 : -1;
}

/*
 * True when name is a partial file's: of process *pid, naming the claim
 * whose name_hash is *hash.
 */
static int
is_partial(const char *name, long *pid, uint32_t *hash)
{
	static const char pre[] = ".quillrecv.";
	const char *at;
	char *end;
	int i;

	if (strncmp(name, pre, sizeof(pre) - 1) != 0 ||
	    (*pid = strtol(name + sizeof(pre) - 1, &end, 10)) <= 0 ||
	    *end != '.' || (strtol(end + 1, &end, 10), *end != '.'))
		return 0;
	for (at = end + 1, i = 0; i < 8; i++)
		if (!isxdigit((unsigned char)at[i]))
			return 0;
	if (strcmp(at + 8, ".partial") != 0)
		return 0;
	*hash = (uint32_t)strtoul(at, NULL, 16);
	return 1;
}

/*
 * Removes what runs killed outright left in dir: each partial file whose
 * process is not alive here and that no process holds locked (a run on
 * another computer sharing the folder), and the empty folder it names as
 * its claim, the claim first. An empty folder of the user's whose name
 * has the same hash would go too: one in four thousand million. Removes
 * what it can; the run goes on whatever it could not.
 */
static void
clean_up(const char *dir)
{
	static char gone[32][NAME_MAX + 1];	/* this many a run */
	uint32_t hashes[32], h;
	char path[PATH_MAX];
	struct flock lock;
	struct dirent *e;
	size_t n = 0, i;
	long pid;
	DIR *d;
	int fd;

	if ((d = opendir(dir)) == NULL)
		return;
	while (n < 32 && (e = readdir(d)) != NULL) {
		if (!is_partial(e->d_name, &pid, &h) ||
		    kill((pid_t)pid, 0) == 0 || errno != ESRCH ||
		    snprintf(path, sizeof(path), "%s/%s", dir, e->d_name) >=
		    (int)sizeof(path) ||
		    (fd = open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK |
		    O_CLOEXEC)) < 0)
			continue;
		memset(&lock, 0, sizeof(lock));
		lock.l_type = F_WRLCK;
		lock.l_whence = SEEK_SET;
		/* Where there are no locks, the process id alone tells. */
		if (fcntl(fd, F_SETLK, &lock) == 0 ||
		    (errno != EAGAIN && errno != EACCES)) {
			snprintf(gone[n], sizeof(gone[n]), "%s", e->d_name);
			hashes[n++] = h;
		}
		close(fd);
	}
	for (rewinddir(d); n > 0 && (e = readdir(d)) != NULL;) {
		for (h = name_hash(e->d_name), i = 0; i < n; i++)
			if (hashes[i] == h && snprintf(path, sizeof(path),
			    "%s/%s", dir, e->d_name) < (int)sizeof(path))
				rmdir(path);
	}
	for (i = 0; i < n; i++)
		if (snprintf(path, sizeof(path), "%s/%s", dir, gone[i]) <
		    (int)sizeof(path))
			unlink(path);
	closedir(d);
}

/*
 * Makes the partial file in p->dir under the first of this run's names
 * (partial_name) not taken, locked for as long as the run lives so that a
 * run on another computer sees it in use; it is left in partial, and its
 * N in p->n. Returns its descriptor or ends the program.
 */
static int
make_file(struct port *p)
{
	char name[PATH_MAX];
	struct flock lock;
	int out;

	for (p->n = 0;; p->n++) {
		if (partial_name(name, p->dir, p->n, "") < 0)
			die("cannot save files in %s: %s", quill_show(p->dir),
			    strerror(ENAMETOOLONG));
		hold_ends(1);
		if ((out = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
		    0666)) >= 0)
			memcpy(partial, name, sizeof(partial));
		hold_ends(0);
		if (out >= 0)
			break;
		if (errno != EEXIST)
			die("cannot save files in %s: %s", quill_show(p->dir),
			    strerror(errno));
	}
	memset(&lock, 0, sizeof(lock));
	lock.l_type = F_WRLCK;
	lock.l_whence = SEEK_SET;
	fcntl(out, F_SETLK, &lock);
	return out;
}

/*
 * Gives the whole file its name, p->path: the claim goes and the partial
 * file takes its place, never over another file unless force is set.
 * Where the file system cannot refuse to replace, a plain rename does: the
 * claim held the name until then. Call with the signals that end the run
 * held (hold_ends). Returns 0, or -1 with errno set.
 */
static int
put_in_place(struct port *p)
{
	int placed = -1;

	if (claim[0] != '\0') {
		if (rmdir(claim) < 0)
			return -1;
		claim[0] = '\0';
	}
	if (!p->force)
		placed = renameat2(AT_FDCWD, partial, AT_FDCWD, p->path,
		    RENAME_NOREPLACE);
	if (p->force || (placed < 0 && (errno == EINVAL || errno == ENOSYS)))
		placed = rename(partial, p->path);
	if (placed < 0)
		return -1;
	partial[0] = '\0';
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
 * True when the folder dir is on a file system that stores names as
 * UTF-16 (FAT, exFAT, NTFS), or may (FUSE, which serves them here).
 */
static int
utf16_names(const char *dir)
{
	static const unsigned long kinds[] = { 0x4d44, 0x2011bab0, 0x5346544e,
	    0x7366746e, 0x65735546 };
	struct statfs fs;
	unsigned i;

	if (statfs(dir, &fs) < 0)
		return 0;
	for (i = 0; i < sizeof(kinds) / sizeof(kinds[0]); i++)
		if ((unsigned long)fs.f_type == kinds[i])
			return 1;
	return 0;
}

/*
 * True when s is UTF-8 as such a file system takes it: no byte that is
 * not part of a character, no overlong form, no surrogate, nothing past
 * U+10FFFF.
 */
static int
is_utf8(const char *s)
{
	const unsigned char *u = (const unsigned char *)s;
	uint32_t c, least;
	int more;

	while (*u != '\0') {
		if (*u < 0x80) {
			u++;
			continue;
		}
		if (*u >= 0xc2 && *u <= 0xdf)
			more = 1, c = *u & 0x1f, least = 0x80;
		else if (*u >= 0xe0 && *u <= 0xef)
			more = 2, c = *u & 0x0f, least = 0x800;
		else if (*u >= 0xf0 && *u <= 0xf4)
			more = 3, c = *u & 0x07, least = 0x10000;
		else
			return 0;
		for (u++; more > 0; more--, u++) {
			if ((*u & 0xc0) != 0x80)
				return 0;
			c = c << 6 | (*u & 0x3f);
		}
		if (c < least || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff))
			return 0;
	}
	return 1;
}

/*
 * Writes s, text in --charset, into out, an array of size bytes, as UTF-8
 * with a final zero. Returns 0, or -1 when s is not text in the character
 * set or out is too small.
 */
static int
to_text(char *out, size_t size, const char *s)
{
#ifndef QUILL_STATIC
	char *in = (char *)s;
	size_t len = strlen(s), left = size - 1;

	iconv(to_utf8, NULL, NULL, NULL, NULL);
	/* The second call ends a character set with shift states. */
	if (iconv(to_utf8, &in, &len, &out, &left) == (size_t)-1 ||
	    iconv(to_utf8, NULL, NULL, &out, &left) == (size_t)-1)
		return -1;
	*out = '\0';
	return 0;
#else
	/* Never reached: a static program refuses --charset. */
	(void)out;
	(void)size;
	(void)s;
	errno = EILSEQ;
	return -1;
#endif
}

/*
 * Opens the converter from name, a --charset, to UTF-8 and returns the code
 * page whose rule splits names in it (names.h): 0 when no byte 0x5c ends a
 * character of two, 932 or 936 for the lead bytes before one, as iconv
 * converts them. Says so and exits 2 when iconv does not know name, when
 * ASCII other than 0x5c and 0x7e is not itself in it, or when neither rule
 * fits; a static program has no iconv modules, and refuses any.
 */
#ifdef QUILL_STATIC
static int
charset_rule(const char *name)
{
	quill_line(stderr, "quillrecv: bad --charset: %s: a statically linked "
	    "quillrecv reads names as UTF-8 only", name);
	exit(2);
}
#else
static int
charset_rule(const char *name)
{
	char in[3] = "", out[16];
	int b, fits932 = 1, fits936 = 1, any = 0;
	const char *c;

	if ((to_utf8 = iconv_open("UTF-8", name)) == (iconv_t)-1)
		goto refuse;
	for (b = 0x20; b < 0x7f; b++) {
		in[0] = (char)b;
		/* Where a yen sign and an overline stand, as in Shift_JIS. */
		if (b != 0x5c && b != 0x7e &&
		    (to_text(out, sizeof(out), in) < 0 || strcmp(out, in) != 0))
			goto refuse;
	}
	for (in[1] = '\\', b = 0x80; b <= 0xff; b++) {
		in[0] = (char)b;
		if (to_text(out, sizeof(out), in) < 0)
			continue;
		for (c = out + 1; ((unsigned char)*c & 0xc0) == 0x80; c++)
			;
		if (*c != '\0')
			continue;	/* two characters: b stands alone */
		any = 1;
		fits932 = fits932 && QUILL_LEAD(932, b);
		fits936 = fits936 && QUILL_LEAD(936, b);
	}
	if (!any)
		return 0;
	if (fits932 || fits936)
		return fits932 ? 932 : 936;
refuse:
	quill_line(stderr, "quillrecv: bad --charset: %s: not a character set "
	    "quillrecv reads names in", name);
	exit(2);
}
#endif

/*
 * The port's open: claims the name the file will take in the folder, base
 * or, when something has that and force is not set, the first free of its
 * numbered names (quill_numbered), with an empty folder made there; with
 * force, a file of that name is left for the commit to replace. With
 * --charset, base is first converted to UTF-8 when the name is not UTF-8.
 * So what the folder's file system refuses (a character, the length, the
 * room for a name) is refused before any data, and so is a base that is
 * not text in --charset. Returns 0, or -1 with the reason recorded.
 */
int
quill_port_open(struct quill_receiver *r, const char *base)
{
	struct port *p = (struct port *)r->port;
	static char text[4 * PATH_MAX];	/* base in UTF-8: 3 bytes a byte */
	char name[PATH_MAX], named[PATH_MAX];
	struct stat st;
	int i, made, e;

	p->base = base;
	if (charset != NULL && !is_utf8(r->dec.name)) {
		/*
		 * text holds any conversion, at 3 bytes a byte at most; once
		 * converted, it must still name a file here and only here.
		 */
		if (to_text(text, sizeof(text), base) < 0 || text[0] == '\0' || strchr(text, '/') != NULL ||
		    strcmp(text, ".") == 0 || strcmp(text, "..") == 0)
			return failure(p, "%s/%s: not a name in %s (%s)",
			    quill_show(p->dir), quill_show(base), charset,
			    strerror(EILSEQ));
		base = text;
	}
	/*
	 * There a name that is not UTF-8 would be stored under another name,
	 * or worse: exFAT's FUSE daemon dies of a surrogate.
	 */
	if (utf16_names(p->dir) && !is_utf8(base))
		return failure(p, "%s/%s: not a name this folder's file system "
		    "allows (%s)", quill_show(p->dir), quill_show(base),
		    strerror(EILSEQ));
	for (i = 0;; i++) {
		if (quill_numbered(name, sizeof(name), base, i) < 0 ||
		    snprintf(p->path, sizeof(p->path), "%s/%s", p->dir, name) >=
		    (int)sizeof(p->path))
			return failure(p, "%s/%s: path too long",
			    quill_show(p->dir), quill_show(i == 0 ? base : name));
		if (p->force && lstat(p->path, &st) == 0) {
			if (S_ISDIR(st.st_mode))
				return failure(p, "%s: %s", quill_show(p->path),
				    strerror(EISDIR));
			return 0;
		}
		/*
		 * The partial file names the claim before it is made: a run
		 * killed in between leaves nothing that a later run misses.
		 * The name fits: it is as long as the one make_file made.
		 */
		(void)partial_name(named, p->dir, p->n, name);
		hold_ends(1);
		if ((made = rename(partial, named)) == 0)
			memcpy(partial, named, sizeof(partial));
		e = errno;
		hold_ends(0);
		if (made < 0)
			return failure(p, "%s: %s", quill_show(partial),
			    strerror(e));
		hold_ends(1);
		if ((made = mkdir(p->path, 0700)) == 0)
			memcpy(claim, p->path, sizeof(claim));
		e = errno;
		hold_ends(0);
		if (made == 0)
			return 0;
		/* FAT's say EPERM, exFAT's ENOENT or EILSEQ, others EINVAL. */
		if (e == EPERM || e == ENOENT || e == EILSEQ || e == EINVAL)
			return failure(p, "%s: not a name this folder's file "
			    "system allows (%s)", quill_show(p->path),
			    strerror(e));
		if (e != EEXIST || p->force || i == INT_MAX)
			return failure(p, "%s: %s", quill_show(p->path),
			    strerror(e));
	}
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
 * The port's commit: the whole file reaches the disk and takes its name,
 * then the folder is synced so that the name survives a crash. Returns 0,
 * or -1 with the reason recorded; once the file has its name it stays,
 * even when the folder's sync fails, and the reason says where it is.
 */
int
quill_port_commit(struct quill_receiver *r)
{
	struct port *p = (struct port *)r->port;
	int placed, dfd;

	if (bar)
		quill_bar_end();
	if (fsync(p->out) < 0)
		return failure(p, "%s: %s", quill_show(p->path),
		    strerror(errno));
	hold_ends(1);
	placed = put_in_place(p);
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

/* The port's discard: the claim and the partial file go. */
void
quill_port_discard(struct quill_receiver *r)
{
	(void)r;
	hold_ends(1);
	remove_ours();
	hold_ends(0);
}

const char *
quill_text(const char *name)
{
	static char text[4 * QUILL_PATH_BYTES];	/* 3 bytes a byte, at most */

	if (charset == NULL || is_utf8(name) ||
	    to_text(text, sizeof(text), name) < 0)
		return name;
	return text;
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

	/* Options; a --charset that cannot be read spares the sender too. */
	quill_options(argc, argv, &o);
	if ((charset = o.charset) != NULL)
		r.codepage = charset_rule(charset);
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
	clean_up(port.dir);
	port.out = make_file(&port);
	port.fd = connect_sender(o.host, o.port, o.wait);

	/*
	 * Receive: the core keeps the file only when the stream is whole. A
	 * name that is not UTF-8 and was refused or cut may be in a code page
	 * of two bytes a character, whose second byte can be that of '\'.
	 */
	res = quill_receive(&r, &port, buf, sizeof(buf));
	if (charset == NULL && (res == QUILL_BAD_NAME ||
	    (port.base != NULL && port.base != r.dec.name)) &&
	    !is_utf8(r.dec.name))
		also = "the name is not UTF-8; if the sender's system uses a "
		    "code page such as CP932, name it with --charset";
	if (res != QUILL_SAVED)
		die("%s", quill_why(&r, res, port.timeout, port.failed));
	/* Saved: say where */
	close(port.fd);
	quill_line(stdout, "received %s: %d bytes, saved as %s",
	    quill_show(quill_text(r.dec.name)),
	    r.dec.size, quill_show(port.path));
	if (also != NULL) {
		fflush(stdout);
		quill_line(stderr, "quillrecv: %s", also);
	}
	return 0;
}
