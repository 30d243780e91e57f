/*
 * The pull entry, for a stack with blocking reads: quill_receive reads
 * through the port's quill_port_read and feeds the push entry. A device
 * that only pushes leaves this file out.
 */
#include <stddef.h>
#include <stdint.h>

#include "receive.h"

enum quill_result
quill_receive(struct quill_receiver *r, void *port, unsigned char *buf,
    size_t size)
{
	long n;

	quill_begin(r, port);
	/* Read to the end; the push entry says how it went. */
	/*@
	  loop invariant r->port == port;
	  loop invariant quill_going(r, quill_opens, quill_commits,
	    quill_discards, quill_data);
	  loop assigns n, buf[0 .. size - 1], r->dec, r->base, r->opened,
	    r->why, r->written, r->total, r->result, r->charset, quill_opens,
	    quill_discards, quill_closed, quill_data;
	*/
	for (;;) {
		n = quill_port_read(r, buf, size);
		/* A count the port could not have read is a failure too. */
		if (n <= 0 || (size_t)n > size)
			return quill_ended(r, n > 0 ? QUILL_READFAIL : n);
		if (quill_push(r, buf, (size_t)n) != QUILL_MORE)
			return r->result;
	}
}
