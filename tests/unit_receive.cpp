/*
 * The receiving core against a port in memory, a row a case; plain C too,
 * so that it runs on a device's processor. Exits 1 if a row fails.
 */
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "receive.h"

#define MORE	1			/* read says one byte more than asked */
#define S(s)	s, sizeof(s) - 1
#define H	"\6\0\0\0a.txt\0"	/* name length and name */
#define T10	"0123456789"		/* ten bytes of a long name */
#define T300	T10 T10 T10 T10 T10 T10 T10 T10 T10 T10 T10 T10 T10 T10 T10 \
		T10 T10 T10 T10 T10 T10 T10 T10 T10 T10 T10 T10 T10 T10 T10

/* A row without a code page and a base name has 0 and a.txt. */
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
/*
 * A case: the stream read hands out, at most piece bytes a read, and what
 * read returns after it; the result; r->why|the data written|the port's
 * calls in order (open, write, commit, discard: one in capitals fails).
 */
static const struct row {
	const char *in; size_t inlen, piece; long end;
	enum quill_result want; const char *outcome;
	int codepage; const char *base;	/* the port's; what is stored */
} rows[] = {
	{ S(H "\3\0\0\0abc"), 1, QUILL_CLOSED, QUILL_SAVED, "|abc|owwwc" },
	{ S("\10\0\0\0d/a.txt\0\3\0\0\0abc"), 64, QUILL_CLOSED, QUILL_SAVED, "|abc|owc" },
	{ S(H "\0\0\0\0"), 1, QUILL_CLOSED, QUILL_SAVED, "||oc" },
	{ S("\3\0\0\0..\0\3\0\0\0abc"), 64, QUILL_CLOSED, QUILL_BAD_NAME, "names no file||" },
	{ S(H "\3\0\0\0abc"), 64, QUILL_CLOSED, QUILL_NOT_OPENED, "the port would not store it||O" },
	{ S(H "\3\0\0\0abc"), 1, QUILL_CLOSED, QUILL_WRITE_FAILED, "the port could not write it|a|owWd" },
	{ S(H "\3\0\0\0abc"), 64, QUILL_CLOSED, QUILL_COMMIT_FAILED, "the port could not keep it|abc|owCd" },
	{ S(H "\3\0"), 1, QUILL_CLOSED, QUILL_CUT_SHORT, "stream ended inside the header||" },
	{ S(H "\3\0\0\0ab"), 1, QUILL_CLOSED, QUILL_CUT_SHORT, "stream ended before all data arrived|ab|owwd" },
	{ S(H "\3\0\0\0abcd"), 64, QUILL_CLOSED, QUILL_BAD_STREAM, "more data than announced|abc|owd" },
	{ S("\6\0"), 1, QUILL_TIMEDOUT, QUILL_STALLED, "no byte within the time limit||" },
	{ S(H "\3\0\0\0a"), 64, QUILL_TIMEDOUT, QUILL_STALLED, "no byte within the time limit|a|owd" },
	{ S(""), 1, QUILL_READFAIL, QUILL_READ_FAILED, "the connection failed||" },
	{ S(H "\3\0\0\0ab"), 1, QUILL_READFAIL, QUILL_READ_FAILED, "the connection failed|ab|owwd" },
	{ S(H "\3\0\0\0abc"), 64, MORE, QUILL_READ_FAILED, "the connection failed|abc|owd" },
	{ S(H "\0\0\0\0"), 1, QUILL_CLOSED, QUILL_SAVED, "||oc" },	/* after a failure */
	{ S("\13\0\0\0\x83\x5c\x83\x74\x83\x67.txt\0\0\0\0\0"), 1, QUILL_CLOSED, QUILL_SAVED, "||oc", 932, "\x83\x5c\x83\x74\x83\x67.txt" },
	{ S("\42\0\0\0C:\\Users\\a\\\x83\x5c\x83\x74\x83\x67\x8a\x4a\x94\xad\\\x97\x5c\x92\xe8\x95\x5c.xlsx\0\0\0\0\0"), 64, QUILL_CLOSED, QUILL_SAVED, "||oc", 932, "\x97\x5c\x92\xe8\x95\x5c.xlsx" },
	{ S("\7\0\0\0\x94\x84\x8f\xe3\x95\x5c\0\0\0\0\0"), 64, QUILL_CLOSED, QUILL_SAVED, "||oc", 932, "\x94\x84\x8f\xe3\x95\x5c" },
	{ S("\5\0\0\0d\\\x81\x5c\0\0\0\0\0"), 64, QUILL_CLOSED, QUILL_SAVED, "||oc", 936, "\x81\x5c" },
	{ S("\13\0\0\0\xb3\x5c\xa5\x5c\xbb\x5c.txt\0\0\0\0\0"), 64, QUILL_CLOSED, QUILL_SAVED, "||oc", 950, "\xb3\x5c\xa5\x5c\xbb\x5c.txt" },
	{ S("\13\0\0\0\x83\x5c\x83\x74\x83\x67.txt\0\0\0\0\0"), 64, QUILL_CLOSED, QUILL_SAVED, "||oc", 0, "\x83\x74\x83\x67.txt" },
	{ S("\12\0\0\0\xe3\x81\x81/x.txt\0\0\0\0\0"), 64, QUILL_CLOSED, QUILL_SAVED, "||oc", 932, "x.txt" },
#if QUILL_MAX_NAME < 300		/* names longer than a small device keeps */
	{ S("\66\1\0\0C:\\" T300 "\\a.txt\0\3\0\0\0abc"), 1, QUILL_CLOSED, QUILL_SAVED, "|abc|owwwc" },
	{ S("\57\1\0\0d/" T300 "\0\0\0\0\0"), 64, QUILL_CLOSED, QUILL_BAD_STREAM, "base name longer than this receiver keeps||" },
	{ S("\64\1\0\0" T300 "\0/a.txt\0\0\0\0\0"), 64, QUILL_CLOSED, QUILL_BAD_STREAM, "name with a zero inside||" },
	{ S("\64\1\0\0" T300 "x/a.txt!\0\0\0\0"), 64, QUILL_CLOSED, QUILL_BAD_STREAM, "name without its final zero||" },
	{ S("\73\1\0\0C:\\" T300 "\\\x83\x5c\x83\x74\x83\x67.txt\0\0\0\0\0"), 1, QUILL_CLOSED, QUILL_SAVED, "||oc", 932, "\x83\x5c\x83\x74\x83\x67.txt" },
	{ S("\66\1\0\0" T300 "\xe3\x81\x81/a.txt\0\0\0\0\0"), 64, QUILL_CLOSED, QUILL_SAVED, "||oc", 932 },	/* UTF-8 */
#endif
}, *w;					/* the row being run */
#define ROWS	(sizeof(rows) / sizeof(rows[0]))
static struct { size_t got, wrote; char out[64], calls[16]; } p;

/* Notes call c of the port, '?' if r->port is not the port; returns -1
   when the row fails it (the call shows in capitals), else 0. */
static int
call(struct quill_receiver *r, int c)
{
	const char *want = strrchr(w->outcome, '|') + 1;
	size_t k = strlen(p.calls);

	if (k + 1 == sizeof(p.calls))
		return -1;
	p.calls[k] = (char)(r->port != &w ? '?' : k < strlen(want) &&
	    want[k] == toupper(c) ? toupper(c) : c);
	return p.calls[k] == c ? 0 : -1;
}

long
quill_port_read(struct quill_receiver *r, unsigned char *buf, size_t len)
{
	size_t n = w->inlen - p.got < w->piece ? w->inlen - p.got : w->piece;

	if (n == 0)		/* a core that reads on runs out of time */
		return w->end == MORE ? (long)len + 1 : w->end;
	n = n < len ? n : len;
	memcpy(buf, w->in + p.got, n);
	p.got += n;
	return r->port == &w ? (long)n : QUILL_READFAIL;
}

/* The row's base name, a.txt unless it says. */
int quill_port_open(struct quill_receiver *r, const char *base)
{ return call(r, 'o') || strcmp(base, w->base ? w->base : "a.txt") ? -1 : 0; }
int quill_port_commit(struct quill_receiver *r)
{ return call(r, 'c') || strcmp(r->base, w->base ? w->base : "a.txt") ? -1 : 0; }
void quill_port_discard(struct quill_receiver *r) { call(r, 'd'); }

int
quill_port_write(struct quill_receiver *r, const unsigned char *data,
    size_t len)
{
	/* The core counts what was written before writing more. */
	if (call(r, 'w') || len > sizeof(p.out) - p.wrote ||
	    r->written != (int64_t)p.wrote)
		return -1;
	memcpy(p.out + p.wrote, data, len);
	p.wrote += len;
	return 0;
}

int
main(void)
{
	static struct quill_receiver r;
	unsigned char buf[64];
	char outcome[128];
	int failed = 0, res = 0, pushed;
	long n = 0;
	size_t i;

	/*
	 * Each row pulled, then pushed in the same pieces (but for a read
	 * that says more than asked), ended the same way, and ended again:
	 * the second end changes nothing. Every byte read is counted.
	 */
	for (i = 0; i < 2 * ROWS; i++) {
		w = rows + i % ROWS;
		pushed = i >= ROWS;
		memset(&p, 0, sizeof(p));
		r.codepage = w->codepage;
		if (!pushed) {
			res = quill_receive(&r, &w, buf, sizeof(buf));
		} else if (w->end != MORE) {
			quill_begin(&r, &w);
			for (res = QUILL_MORE; res == QUILL_MORE &&
			    (n = quill_port_read(&r, buf, sizeof(buf))) > 0;)
				res = quill_push(&r, buf, (size_t)n);
			if (res != QUILL_MORE && quill_ended(&r, n) != res)
				res = -1;
			else
				res = quill_ended(&r, n);
		} else {
			continue;
		}
		snprintf(outcome, sizeof(outcome), "%s|%.*s|%s", r.why ? r.why :
		    "", (int)p.wrote, p.out, p.calls);
		if (res != (int)w->want || strcmp(outcome, w->outcome) != 0 ||
		    r.total != (int64_t)p.got)
			failed = printf("row %d%s: %d, %s, %ld bytes\n",
			    (int)(w - rows) + 1, pushed ? " pushed" : "", res,
			    outcome, (long)r.total);
	}
	printf("%d rows; struct quill_receiver: %u bytes\n", (int)ROWS,
	    (unsigned)sizeof(r));
	return failed != 0;
}
