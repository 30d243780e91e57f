/*
 * quillrecv: stand-in for the device. Connects to a running sender, reads
 * the transfer stream and saves the file under its base name in a folder.
 *
 *	quillrecv [--host HOST] [--port PORT] [--output DIR] [--wait SECONDS]
 *	    [--force]
 *
 * Exit status 0 only when the file arrived whole; it is then renamed into
 * place from a temporary file, so a broken stream leaves nothing under the
 * final name.
 */
#include <sys/types.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "decoder.h"

#ifndef QUILL_VERSION
#define QUILL_VERSION "unknown"
#endif

static const char usage[] =
    "usage: quillrecv [--host HOST] [--port PORT] [--output DIR] "
    "[--wait SECONDS] [--force]\n"
    "\n"
    "Connects to a quillsend sender, receives one file and saves it in DIR\n"
    "under the base name the sender gives.\n"
    "\n"
    "  --host HOST     sender's address (default 127.0.0.1)\n"
    "  --port PORT     sender's port (default 21)\n"
    "  --output DIR    folder to save the file in (default .)\n"
    "  --wait SECONDS  how long to retry while the sender is not listening\n"
    "                  (default 10)\n"
    "  --force         replace a file of the same name\n"
    "  --version       print the version and exit\n"
    "  --help          print this help and exit\n";

static char tmppath[PATH_MAX];	/* removed by die() */
static int bar;			/* standard error shows a progress bar */

/* Prints "quillrecv: " and the message on standard error and exits 1. */
static void __attribute__((noreturn, format(printf, 1, 2)))
die(const char *fmt, ...)
{
	va_list ap;

	if (tmppath[0] != '\0')
		unlink(tmppath);
	fputs(bar ? "\nquillrecv: " : "quillrecv: ", stderr);
	va_start(ap, fmt);
	vfprintf(stderr, fmt, ap);
	va_end(ap);
	fputc('\n', stderr);
	exit(1);
}

/*
 * Returns the part of name after its last '/' or '\', or NULL when that is
 * empty, "." or "..", which name no file that can be written inside a
 * folder.
 */
static const char *
base_name(const char *name)
{
	const char *b = name, *p;

	for (p = name; *p != '\0'; p++)
		if (*p == '/' || *p == '\\')
			b = p + 1;
	if (*b == '\0' || strcmp(b, ".") == 0 || strcmp(b, "..") == 0)
		return NULL;
	return b;
}

/*
 * Connects to host:port, retrying every 100 ms while nothing listens there,
 * for up to wait seconds. Returns the socket or ends the program.
 */
static int
connect_sender(const char *host, const char *port, double wait)
{
	struct addrinfo hints, *res;
	struct timespec pause = { 0, 100 * 1000 * 1000 };
	int fd, e, tries;

	memset(&hints, 0, sizeof(hints));
	hints.ai_family = AF_INET;
	hints.ai_socktype = SOCK_STREAM;
	if ((e = getaddrinfo(host, port, &hints, &res)) != 0)
		die("%s port %s: %s", host, port, gai_strerror(e));
	for (tries = 0;; tries++) {
		if ((fd = socket(res->ai_family, res->ai_socktype,
		    res->ai_protocol)) < 0)
			die("socket: %s", strerror(errno));
		if (connect(fd, res->ai_addr, res->ai_addrlen) == 0)
			break;
		e = errno;
		close(fd);
		if (e != ECONNREFUSED || tries >= wait * 10)
			die("connect to %s port %s: %s", host, port,
			    strerror(e));
		nanosleep(&pause, NULL);
	}
	freeaddrinfo(res);
	return fd;
}

/* Draws a progress bar on standard error, which is a terminal. */
static void
progress(const struct quill_decoder *d)
{
	char line[41];
	int pct = d->size > 0 ? (int)(d->received * 100 / d->size) : 100;
	int fill = pct * 40 / 100;

	memset(line, '#', (size_t)fill);
	memset(line + fill, '.', (size_t)(40 - fill));
	line[40] = '\0';
	fprintf(stderr, "\r[%s] %3d%% %lld/%d", line, pct,
	    (long long)d->received, d->size);
}

int
main(int argc, char *argv[])
{
	static const struct option longopts[] = {
		{ "host",	required_argument,	NULL, 'h' },
		{ "port",	required_argument,	NULL, 'p' },
		{ "output",	required_argument,	NULL, 'o' },
		{ "wait",	required_argument,	NULL, 'w' },
		{ "force",	no_argument,		NULL, 'f' },
		{ "version",	no_argument,		NULL, 'V' },
		{ "help",	no_argument,		NULL, 'H' },
		{ NULL,		0,			NULL, 0 }
	};
	static unsigned char buf[64 * 1024];
	struct quill_decoder d;
	char path[PATH_MAX];
	const char *host = "127.0.0.1", *port = "21", *dir = ".";
	const char *base = NULL, *why;
	const unsigned char *data;
	size_t datalen, k;
	ssize_t n, w;
	double wait = 10;
	char *end;
	int ch, force = 0, fd, out = -1;
	mode_t mask;
	time_t drawn = 0;

	/* Options */
	while ((ch = getopt_long(argc, argv, "", longopts, NULL)) != -1) {
		switch (ch) {
		case 'h': host = optarg; break;
		case 'p': port = optarg; break;
		case 'o': dir = optarg; break;
		case 'f': force = 1; break;
		case 'w':
			wait = strtod(optarg, &end);
			if (*end != '\0' || end == optarg || !(wait >= 0)) {
				fprintf(stderr, "quillrecv: bad --wait: %s\n",
				    optarg);
				return 2;
			}
			break;
		case 'V':
			printf("quillrecv %s\n", QUILL_VERSION);
			return 0;
		case 'H':
			fputs(usage, stdout);
			return 0;
		default:
			fputs(usage, stderr);
			return 2;
		}
	}
	if (optind != argc) {
		fputs(usage, stderr);
		return 2;
	}

	bar = isatty(2);
	fd = connect_sender(host, port, wait);

	/* Read the stream to its end */
	quill_decoder_init(&d);
	while ((n = read(fd, buf, sizeof(buf))) != 0) {
		if (n < 0) {
			if (errno == EINTR)
				continue;
			die("read: %s", strerror(errno));
		}
		for (k = 0; k < (size_t)n; ) {
			k += quill_decoder_feed(&d, buf + k, (size_t)n - k,
			    &data, &datalen);
			if (d.stage == QUILL_FAILED)
				die("bad stream: %s", d.error);
			if (d.stage == QUILL_DATA && out < 0) {
				/* Header done: make the file to write into. */
				if ((base = base_name(d.name)) == NULL)
					die("bad stream: name \"%s\" names no "
					    "file", d.name);
				if (snprintf(path, sizeof(path), "%s/%s", dir,
				    base) >= (int)sizeof(path))
					die("%s/%s: path too long", dir, base);
				if (!force && access(path, F_OK) == 0)
					die("%s exists (--force replaces it)",
					    path);
				if (snprintf(tmppath, sizeof(tmppath),
				    "%s/.quillrecv.XXXXXX", dir) >=
				    (int)sizeof(tmppath) ||
				    (out = mkstemp(tmppath)) < 0) {
					tmppath[0] = '\0';
					die("%s: %s", dir, strerror(errno));
				}
			}
			for (; datalen > 0; datalen -= (size_t)w, data += w)
				if ((w = write(out, data, datalen)) < 0)
					die("%s: %s", tmppath, strerror(errno));
		}
		if (bar && d.stage == QUILL_DATA && time(NULL) != drawn) {
			drawn = time(NULL);
			progress(&d);
		}
	}
	close(fd);
	if ((why = quill_decoder_finish(&d)) != NULL) {
		if (d.stage == QUILL_DATA)
			die("bad stream: %s (%lld of %d bytes)", why,
			    (long long)d.received, d.size);
		die("bad stream: %s", why);
	}
	if (bar)
		progress(&d), fputc('\n', stderr);

	/* Whole: put it in place */
	mask = umask(0);
	umask(mask);
	if (fchmod(out, 0666 & ~mask) < 0 || fsync(out) < 0 || close(out) < 0)
		die("%s: %s", tmppath, strerror(errno));
	if (force) {
		if (rename(tmppath, path) < 0)
			die("%s: %s", path, strerror(errno));
	} else {
		/* link() fails rather than replace a file made meanwhile. */
		if (link(tmppath, path) < 0)
			die("%s: %s", path, strerror(errno));
		unlink(tmppath);
	}
	printf("received %s: %d bytes, saved as %s\n", d.name, d.size, path);
	return 0;
}
