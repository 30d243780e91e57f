/*
 * quillrecv's command, the same on every host (see command.h).
 */
#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#include <io.h>
#else
#include <netdb.h>
#include <time.h>
#endif

#include <getopt.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "command.h"
#include "names.h"

#ifndef QUILL_VERSION
#define QUILL_VERSION "unknown"
#endif

static const char usage[] =
    "usage: quillrecv [--host HOST] [--port PORT] [--output DIR] "
    "[--wait SECONDS]\n"
#ifdef _WIN32
    "                 [--timeout SECONDS] [--force]\n"
#else
    "                 [--timeout SECONDS] [--force] [--charset CHARSET]\n"
#endif
    "\n"
    "Connects to a quillsend sender, receives one file and saves it in DIR\n"
    "under the base name the sender gives.\n"
    "\n"
    "  --host HOST        sender's address (default 127.0.0.1)\n"
    "  --port PORT        sender's port (default 21)\n"
    "  --output DIR       folder to save the file in, made if missing\n"
    "                     (default .)\n"
    "  --wait SECONDS     how long to try to reach the sender (default 10)\n"
    "  --timeout SECONDS  give up when no byte arrives for this long\n"
    "                     (default 30; 0 waits forever)\n"
    "  --force            replace a file of the same name, instead of\n"
    "                     saving as NAME (1).EXT, NAME (2).EXT, ...\n"
#ifndef _WIN32
    "  --charset CHARSET  the sender's character set (CP932, GBK, BIG5, ...):\n"
    "                     a name that is not UTF-8 is read in it and saved\n"
    "                     in UTF-8\n"
#endif
    "  --version          print the version and exit\n"
    "  -h, --help         print this help and exit\n";

static const struct quill_decoder *bar_of;	/* the bar drawn last, if any */

/*
 * Returns arg, a --port: a number from 1 to 65535 or the name of a TCP
 * service. Exits 2 when it is neither.
 */
static const char *
port_arg(const char *arg)
{
	char *end;
	long v;

	if (*arg >= '0' && *arg <= '9') {
		v = strtol(arg, &end, 10);
		if (*end == '\0' && v >= 1 && v <= 65535)
			return arg;
	} else if (*arg != '\0' && getservbyname(arg, "tcp") != NULL) {
		return arg;
	}
	quill_line(stderr, "quillrecv: bad --port: %s", arg);
	exit(2);
}

/* Parses a count of seconds for option opt, or exits 2. */
static double
seconds(const char *opt, const char *arg)
{
	char *end;
	double v = strtod(arg, &end);

	if (*end != '\0' || end == arg || !(v >= 0) || v > 1e6) {
		quill_line(stderr, "quillrecv: bad --%s: %s", opt, arg);
		exit(2);
	}
	return v;
}

void
quill_options(int argc, char *argv[], struct quill_options *o)
{
	static const struct option longopts[] = {
		{ "host",	required_argument,	NULL, 'a' },
		{ "port",	required_argument,	NULL, 'p' },
		{ "output",	required_argument,	NULL, 'o' },
		{ "wait",	required_argument,	NULL, 'w' },
		{ "timeout",	required_argument,	NULL, 't' },
		{ "force",	no_argument,		NULL, 'f' },
#ifndef _WIN32
		{ "charset",	required_argument,	NULL, 'c' },
#endif
		{ "version",	no_argument,		NULL, 'V' },
		{ "help",	no_argument,		NULL, 'h' },
		{ NULL,		0,			NULL, 0 }
	};
	int ch;

	o->host = "127.0.0.1";
	o->port = "21";
	o->dir = ".";
	o->wait = 10;
	o->timeout = 30;
	o->force = 0;
#ifndef _WIN32
	o->charset = NULL;
#endif
	while ((ch = getopt_long(argc, argv, "h", longopts, NULL)) != -1) {
		switch (ch) {
		case 'a': o->host = optarg; break;
		case 'p': o->port = port_arg(optarg); break;
		case 'o': o->dir = optarg; break;
		case 'f': o->force = 1; break;
#ifndef _WIN32
		case 'c': o->charset = optarg; break;
#endif
		case 'w': o->wait = seconds("wait", optarg); break;
		case 't': o->timeout = seconds("timeout", optarg); break;
		case 'V':
			printf("quillrecv %s\n", QUILL_VERSION);
			exit(0);
		case 'h':
			fputs(usage, stdout);
			exit(0);
		default:
			fputs(usage, stderr);
			exit(2);
		}
	}
	if (optind != argc) {
		quill_line(stderr, "quillrecv: unexpected argument: %s",
		    argv[optind]);
		fputs(usage, stderr);
		exit(2);
	}
}

const char *
quill_show(const char *s)
{
	static char bufs[2][4 * QUILL_PATH_BYTES + 1];
	static int which;

	which ^= 1;
	quill_escape(bufs[which], sizeof(bufs[which]), s);
	return bufs[which];
}

int
quill_numbered(char *out, size_t size, const char *base, int n)
{
	const char *dot = strrchr(base, '.');
	int stem, wrote;

	/* A leading dot starts a hidden name, not an extension. */
	if (dot == NULL || dot == base)
		dot = base + strlen(base);
	stem = (int)(dot - base);
	if (n == 0)
		wrote = snprintf(out, size, "%s", base);
	else
		wrote = snprintf(out, size, "%.*s (%d)%s", stem, base, n, dot);
	return wrote >= 0 && (size_t)wrote < size ? 0 : -1;
}

double
quill_now(void)
{
#ifdef _WIN32
	static LARGE_INTEGER hz;
	LARGE_INTEGER t;

	if (hz.QuadPart == 0)
		QueryPerformanceFrequency(&hz);
	QueryPerformanceCounter(&t);
	return (double)t.QuadPart / (double)hz.QuadPart;
#else
	struct timespec t;

	clock_gettime(CLOCK_MONOTONIC, &t);
	return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
#endif
}

void
quill_bar(const struct quill_decoder *d, int final)
{
	static double last;
	static int64_t shown_received = -1;
	char line[41];
	int pct, fill;

	if (d->received == shown_received ||
	    (!final && quill_now() - last < 0.1))
		return;
	pct = d->size > 0 ? (int)(d->received * 100 / d->size) : 100;
	fill = pct * 40 / 100;
	memset(line, '#', (size_t)fill);
	memset(line + fill, '.', (size_t)(40 - fill));
	line[40] = '\0';
	fprintf(stderr, "\r[%s] %3d%% %lld/%d", line, pct,
	    (long long)d->received, d->size);
	last = quill_now();
	shown_received = d->received;
	bar_of = d;
}

void
quill_bar_end(void)
{
	if (bar_of == NULL)
		return;
	quill_bar(bar_of, 1);
	fputc('\n', stderr);
	bar_of = NULL;
}

/* quill_line's, with the message's arguments in ap. */
static void
vline(FILE *f, const char *fmt, va_list ap)
{
#ifdef _WIN32
	/* A line's longest: a path and a name, each escaped, and words. */
	static char text[10 * QUILL_PATH_BYTES];
	static wchar_t w[10 * QUILL_PATH_BYTES];
	HANDLE h = (HANDLE)_get_osfhandle(_fileno(f));
	DWORD mode, n;
	int units;

	/*
	 * A console shows bytes in its own code page, which no program should
	 * change for it: it is given the text itself.
	 */
	if (GetConsoleMode(h, &mode)) {
		fflush(f);
		vsnprintf(text, sizeof(text), fmt, ap);
		units = MultiByteToWideChar(CP_UTF8, 0, text, -1, w,
		    sizeof(w) / sizeof(w[0]));
		if (units > 1)
			WriteConsoleW(h, w, (DWORD)units - 1, &n, NULL);
		WriteConsoleW(h, L"\r\n", 2, &n, NULL);
		return;
	}
#endif
	vfprintf(f, fmt, ap);
	fputc('\n', f);
}

void
quill_line(FILE *f, const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	vline(f, fmt, ap);
	va_end(ap);
}

void
quill_vwarnx(const char *fmt, va_list ap)
{
	/* Show what arrived before saying why it stops there. */
	quill_bar_end();
	fputs("quillrecv: ", stderr);
	vline(stderr, fmt, ap);
}

const char *
quill_why(const struct quill_receiver *r, enum quill_result res,
    double timeout, const char *failed)
{
	static char why[8 * QUILL_PATH_BYTES + 64];
	const struct quill_decoder *d = &r->dec;

	switch (res) {
	case QUILL_BAD_NAME:
		snprintf(why, sizeof(why), "bad stream: name \"%s\" %s",
		    quill_show(quill_text(d->name)), r->why);
		break;
	case QUILL_BAD_STREAM:
	case QUILL_CUT_SHORT:
		if (res == QUILL_CUT_SHORT && d->stage == QUILL_DATA)
			snprintf(why, sizeof(why), "bad stream: %s (%lld of %d "
			    "bytes)", r->why, (long long)d->received, d->size);
		else
			snprintf(why, sizeof(why), "bad stream: %s", r->why);
		break;
	case QUILL_STALLED:
		if (d->stage == QUILL_DATA)
			snprintf(why, sizeof(why), "no byte for %g s: stream "
			    "stalled before all data arrived (%lld of %d bytes)",
			    timeout, (long long)d->received, d->size);
		else
			snprintf(why, sizeof(why), "no byte for %g s: stream "
			    "stalled inside the header (%lld bytes arrived)",
			    timeout, (long long)r->total);
		break;
	default:
		/* The port's own failures say what failed. */
		return failed;
	}
	return why;
}
