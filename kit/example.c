/*
 * example: a port of the quillsend receiving core to POSIX sockets, the
 * model for a device's own. Connects to a sender, receives one file into
 * the current folder and says what became of it.
 *
 *	example [HOST [PORT]]
 *
 * HOST is the sender's IPv4 address (default 127.0.0.1), PORT its port
 * (default 21). A file of the same name is replaced. Exit status 0 only
 * when the file was saved: the sender cannot know, so this is the only
 * place that says so.
 */
#define _POSIX_C_SOURCE 200809L

#include <sys/types.h>
#include <sys/socket.h>
#include <netdb.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "names.h"
#include "receive.h"

#define TIMEOUT_MS	30000		/* no byte for this long: give up */
#define ROOM		(64L * 1024 * 1024)	/* the storage's free bytes */

/* The port's state, which quill_receive hands to each quill_port_* call. */
struct port {
	int	 fd;			/* the connection to the sender */
	int	 out;			/* the staged file, or -1 */
	char	 staged[QUILL_MAX_NAME + 8];	/* its name: .BASE.part */
	char	 failed[128];		/* why the port failed */
};

/* Records why the port failed, for main to say; returns -1. */
static int
failure(struct port *p, const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	vsnprintf(p->failed, sizeof(p->failed), fmt, ap);
	va_end(ap);
	return -1;
}

/*
 * Waits up to TIMEOUT_MS for bytes and reads them. Returns a count,
 * QUILL_CLOSED, QUILL_TIMEDOUT, or QUILL_READFAIL with the reason recorded.
 * No signal handler is installed, so nothing is interrupted.
 */
long
quill_port_read(struct quill_receiver *r, unsigned char *buf, size_t len)
{
	struct port *p = (struct port *)r->port;
	struct pollfd pfd;
	ssize_t n;
	int ready;

	pfd.fd = p->fd;
	pfd.events = POLLIN;
	if ((ready = poll(&pfd, 1, TIMEOUT_MS)) == 0)
		return QUILL_TIMEDOUT;
	if (ready < 0 || (n = read(p->fd, buf, len)) < 0) {
		failure(p, "%s: %s", ready < 0 ? "poll" : "read",
		    strerror(errno));
		return QUILL_READFAIL;
	}
	return (long)n;
}

/*
 * Stages a file for base, which the core has checked, before any data.
 * Returns 0, or -1 with the reason recorded when the file would not fit,
 * the storage refuses the name or the staged file cannot be made.
 */
int
quill_port_open(struct quill_receiver *r, const char *base)
{
	struct port *p = (struct port *)r->port;

	if (r->dec.size > ROOM)
		return failure(p, "is %ld bytes, more than the %ld there is "
		    "room for", (long)r->dec.size, ROOM);
	/* What a FAT volume refuses; a port may map them instead. */
	if (strpbrk(base, ":?*\"<>|") != NULL)
		return failure(p, "holds a character the storage refuses");
	if (snprintf(p->staged, sizeof(p->staged), ".%s.part", base) >=
	    (int)sizeof(p->staged))
		return failure(p, "is too long to stage");
	/* A staged file left by a run that died is ours to reuse. */
	if ((p->out = open(p->staged, O_WRONLY | O_CREAT | O_TRUNC |
	    O_NOFOLLOW, 0666)) < 0)
		return failure(p, "could not be staged: %s", strerror(errno));
	return 0;
}

/* Writes all len bytes to the staged file. Returns 0, or -1. */
int
quill_port_write(struct quill_receiver *r, const unsigned char *data,
    size_t len)
{
	struct port *p = (struct port *)r->port;
	ssize_t w;

	for (; len > 0; data += w, len -= (size_t)w)
		if ((w = write(p->out, data, len)) < 0)
			return failure(p, "could not be written: %s",
			    strerror(errno));
	return 0;
}

/*
 * Gives the whole staged file its name: its data reaches the storage
 * first, so the name never stands for less. Returns 0, or -1.
 */
int
quill_port_commit(struct quill_receiver *r)
{
	struct port *p = (struct port *)r->port;
	int e;

	if (fsync(p->out) < 0)
		return failure(p, "could not be kept: %s", strerror(errno));
	e = close(p->out);
	p->out = -1;
	if (e < 0 || rename(p->staged, r->base) < 0)
		return failure(p, "could not be kept: %s", strerror(errno));
	return 0;
}

/* Throws the staged file away, whatever stage it got to. */
void
quill_port_discard(struct quill_receiver *r)
{
	struct port *p = (struct port *)r->port;

	if (p->out >= 0)
		close(p->out);
	p->out = -1;
	unlink(p->staged);
}

/*
 * Writes s to f escaped (quill_escape), a piece at a time through a small
 * buffer: a device has no RAM to spare for the whole name.
 */
static void
show(FILE *f, const char *s)
{
	char piece[64];

	while (*s != '\0') {
		s += quill_escape(piece, sizeof(piece), s);
		fputs(piece, f);
	}
}

/*
 * Writes the name the sender gave as the core kept it, escaped: a name cut
 * to its base (longer than QUILL_MAX_NAME) with ".../" for what was
 * dropped.
 */
static void
show_name(FILE *f, const struct quill_decoder *d)
{
	if (d->cut)
		fputs(".../", f);
	show(f, d->name);
}

/*
 * The code page the senders' names are in when they are not UTF-8 (names.h):
 * 932, 936, 949 or 950 where they run Windows in Japanese, Chinese or
 * Korean, 0 for one byte a character. A device sets it with -D.
 */
#ifndef QUILL_CODEPAGE
#define QUILL_CODEPAGE	0
#endif

int
main(int argc, char *argv[])
{
	/* Static, not on the stack: a device's stack is small. */
	static struct quill_receiver r;
	static struct port port;
	static unsigned char buf[4096];
	const char *host = "127.0.0.1", *service = "21";
	struct addrinfo hints, *ai;
	enum quill_result res;
	int e;

	/* Arguments */
	if (argc > 3) {
		fputs("usage: example [HOST [PORT]]\n", stderr);
		return 2;
	}
	if (argc > 1)
		host = argv[1];
	if (argc > 2)
		service = argv[2];

	/* Connect */
	memset(&hints, 0, sizeof(hints));
	hints.ai_family = AF_INET;
	hints.ai_socktype = SOCK_STREAM;
	if ((e = getaddrinfo(host, service, &hints, &ai)) != 0) {
		fprintf(stderr, "example: %s port %s: %s\n", host, service,
		    gai_strerror(e));
		return 1;
	}
	if ((port.fd = socket(ai->ai_family, ai->ai_socktype,
	    ai->ai_protocol)) < 0 ||
	    connect(port.fd, ai->ai_addr, ai->ai_addrlen) < 0) {
		fprintf(stderr, "example: connect to %s port %s: %s\n", host,
		    service, strerror(errno));
		return 1;
	}
	freeaddrinfo(ai);
	port.out = -1;

	/* Receive: the core checks the stream and the name, the port stores. */
	r.codepage = QUILL_CODEPAGE;	/* kept by quill_begin */
	res = quill_receive(&r, &port, buf, sizeof(buf));
	close(port.fd);

	/*
	 * Say what became of the file. The name is only ever shown escaped,
	 * and only once the header is whole: before, it is no string yet.
	 */
	if (res == QUILL_SAVED) {
		fputs("received ", stdout);
		show_name(stdout, &r.dec);
		printf(": %ld bytes, saved as ", (long)r.dec.size);
		show(stdout, r.base);
		putchar('\n');
		return 0;
	}
	fputs("example: not saved: ", stderr);
	if (res != QUILL_READ_FAILED && r.dec.stage == QUILL_DATA) {
		fputc('"', stderr);
		show_name(stderr, &r.dec);
		fputc('"', stderr);
	}
	switch (res) {
	case QUILL_BAD_NAME:
		fprintf(stderr, " %s\n", r.why);
		break;
	case QUILL_NOT_OPENED:
	case QUILL_WRITE_FAILED:
	case QUILL_COMMIT_FAILED:
		fprintf(stderr, " %s\n", port.failed);
		break;
	case QUILL_READ_FAILED:
		fprintf(stderr, "%s\n", port.failed);
		break;
	default:
		if (r.dec.stage == QUILL_DATA)
			fprintf(stderr, ": %s (%ld of %ld bytes)\n", r.why,
			    (long)r.dec.received, (long)r.dec.size);
		else
			fprintf(stderr, "%s\n", r.why);
	}
	return 1;
}
