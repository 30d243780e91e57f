#include <stddef.h>
#include <stdint.h>

#include "names.h"
#include "receive.h"

/*
 * Ends the transfer with result res for reason why; what was opened and
 * not committed is discarded first.
 */
/*@
  requires \valid(r) && \valid_read(why);
  requires quill_commits == 0 && quill_discards == 0;
  requires r->opened == quill_opens && quill_opens <= 1;
  assigns r->why, quill_discards;
  ensures r->why == why && \result == res;
  ensures quill_discards == quill_opens;
*/
static enum quill_result
end(struct quill_receiver *r, enum quill_result res, const char *why)
{
	if (r->opened)
		quill_port_discard(r);
	r->why = why;
	return res;
}

enum quill_result
quill_receive(struct quill_receiver *r, void *port, unsigned char *buf,
    size_t size)
{
	const unsigned char *data = NULL;
	const char *base, *why;
	size_t datalen, k;
	long n;

	quill_decoder_init(&r->dec);
	r->port = port;
	r->base = NULL;
	r->total = 0;
	r->written = 0;
	r->opened = 0;
	r->why = NULL;

	/*@
	  loop invariant quill_decoder_ok(&r->dec) && r->port == port;
	  loop invariant r->dec.stage != QUILL_FAILED;
	  loop invariant r->opened == quill_opens && quill_opens <= 1;
	  loop invariant quill_opens == 1 <==> r->dec.stage == QUILL_DATA;
	  loop invariant quill_commits == 0 && quill_discards == 0;
	  loop invariant quill_closed == 0;
	  loop invariant r->written == r->dec.received && 0 <= r->total;
	  loop assigns n, k, data, datalen, base, why, buf[0 .. size - 1], *r,
	    quill_opens, quill_closed;
	*/
	for (;;) {
		n = quill_port_read(r, buf, size);
		if (n == QUILL_CLOSED)
			break;
		if (n == QUILL_TIMEDOUT)
			return end(r, QUILL_STALLED, "no byte within the time limit");
		/* A count the port could not have read is a failure too. */
		if (n < 0 || (size_t)n > size)
			return end(r, QUILL_READ_FAILED, "the connection failed");
		/* Only shown in messages: it stops rather than wraps. */
		if (r->total <= INT64_MAX - n)
			r->total += n;
		/*@
		  loop invariant 0 <= k <= n;
		  loop invariant quill_decoder_ok(&r->dec) && r->port == port;
		  loop invariant r->dec.stage != QUILL_FAILED;
		  loop invariant r->opened == quill_opens && quill_opens <= 1;
		  loop invariant quill_opens == 1 <==> r->dec.stage == QUILL_DATA;
		  loop invariant quill_commits == 0 && quill_discards == 0;
		  loop invariant quill_closed == 0;
		  loop invariant r->written == r->dec.received && 0 <= r->total;
		  loop assigns k, data, datalen, base, why, *r, quill_opens;
		  loop variant n - k;
		*/
		for (k = 0; k < (size_t)n; ) {
			k += quill_decoder_feed(&r->dec, buf + k, (size_t)n - k,
			    &data, &datalen);
			if (r->dec.stage == QUILL_FAILED)
				return end(r, QUILL_BAD_STREAM, r->dec.error);
			/* The header is whole: before any data, the name. */
			if (r->dec.stage == QUILL_DATA && !r->opened) {
				if ((base = quill_base_name(r->dec.name, &why)) ==
				    NULL)
					return end(r, QUILL_BAD_NAME, why);
				if (quill_port_open(r, base) != 0)
					return end(r, QUILL_NOT_OPENED,
					    "the port would not store it");
				r->base = base;
				r->opened = 1;
			}
			if (datalen == 0)
				continue;
			if (quill_port_write(r, data, datalen) != 0)
				return end(r, QUILL_WRITE_FAILED,
				    "the port could not write it");
			r->written += (int64_t)datalen;
		}
	}

	/* Closed: only a whole stream is kept. */
	if ((why = quill_decoder_finish(&r->dec)) != NULL)
		return end(r, QUILL_CUT_SHORT, why);
	if (quill_port_commit(r) != 0)
		return end(r, QUILL_COMMIT_FAILED, "the port could not keep it");
	return QUILL_SAVED;
}
