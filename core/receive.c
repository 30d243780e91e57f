#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "names.h"
#include "receive.h"

/*@ ghost
  // A proof step: quill_going from its parts, proven in a context of its
  // own, where quill_push's would swamp the provers.
  /@
    requires quill_decoder_ok(&r->dec) && r->result == QUILL_MORE &&
      r->dec.stage != QUILL_FAILED;
    requires r->opened == opens && (opens == 0 || opens == 1) &&
      (opens == 1 <==> r->dec.stage == QUILL_DATA);
    requires commits == 0 && discards == 0 && data == r->dec.received &&
      r->written == r->dec.received && 0 <= r->total;
    assigns \nothing;
    ensures quill_going(r, opens, commits, discards, data);
  @/
  static void quill_goes(struct quill_receiver *r, int opens, int commits,
      int discards, int64_t data) {}
*/

/*
 * Ends the transfer with result res for reason why; what was opened and
 * not committed is discarded first.
 */
/*@
  requires \valid(r) && why != \null;
  requires quill_commits == 0 && quill_discards == 0;
  requires r->opened == quill_opens && (quill_opens == 0 || quill_opens == 1);
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

/*
 * The header is whole: checks the name, then has the port open a file for
 * its base name. Returns 0 once the file is open, else how the transfer
 * ends (nothing was opened), with r->why set.
 */
/*@
  requires \valid(r) && quill_decoder_ok(&r->dec);
  requires r->dec.stage == QUILL_DATA;
  requires r->opened == 0 && quill_opens == 0;
  assigns r->base, r->opened, r->why, r->charset, quill_opens;
  ensures quill_decoder_ok(&r->dec);
  ensures r->opened == quill_opens;
  ensures \result == 0 <==> quill_opens == 1;
  ensures \result != 0 ==> r->why != \null && quill_opens == 0;
  ensures 0 <= \result <= QUILL_COMMIT_FAILED;
*/
static int
open_file(struct quill_receiver *r)
{
	const char *base, *why;
	size_t b;

	/*@ assert strlen(&r->dec.name[0]) == r->dec.kept - 1; */
	r->charset = quill_charset(r->dec.name, r->codepage);
	if ((base = quill_base_name(r->dec.name, r->charset, &why)) == NULL) {
		r->why = why;
		return QUILL_BAD_NAME;
	}
	/* The base name by its index in the name: the form the proof uses. */
	b = (size_t)(base - r->dec.name);
	/*@ assert strlen(&r->dec.name[0] + b) == strlen(&r->dec.name[0]) - b; */
	/*@ assert \forall integer k; 0 <= k < strlen(&r->dec.name[0]) - b ==>
	      !quill_sep(&r->dec.name[0] + b, r->charset, k) &&
	      (unsigned char)(&r->dec.name[0] + b)[k] >= 0x20 &&
	      (unsigned char)(&r->dec.name[0] + b)[k] != 0x7f; */
	/* Not "." or "..": where the name ends, by index. */
	/*@ assert r->dec.name[b + 1] == '\0' <==>
	      b + 1 == strlen(&r->dec.name[0]); */
	/*@ assert r->dec.name[b + 1] == '.' ==> (r->dec.name[b + 2] == '\0' <==>
	      b + 2 == strlen(&r->dec.name[0])); */
	/*@ assert !(r->dec.name[b] == '.' && (r->dec.name[b + 1] == '\0' ||
	      (r->dec.name[b + 1] == '.' && r->dec.name[b + 2] == '\0'))); */
	if (quill_port_open(r, r->dec.name + b) != 0) {
		r->why = "the port would not store it";
		return QUILL_NOT_OPENED;
	}
	r->base = r->dec.name + b;
	r->opened = 1;
	return 0;
}

/*
 * Feeds the n bytes read into buf to the decoder: opens the file once the
 * header is whole, and writes the data the decoder hands out. Returns 0
 * while the transfer goes on, else how it ends, with r->why set and what
 * was opened discarded.
 */
/*@
  requires \valid(r) && quill_decoder_ok(&r->dec);
  requires r->dec.stage != QUILL_FAILED;
  requires 0 < n && \valid_read(buf + (0 .. n - 1));
  requires \separated(r, buf + (0 .. n - 1));
  requires r->opened == quill_opens && (quill_opens == 0 || quill_opens == 1);
  requires quill_opens == 1 <==> r->dec.stage == QUILL_DATA;
  requires quill_commits == 0 && quill_discards == 0;
  requires r->written == r->dec.received && quill_data == r->dec.received;
  assigns r->dec, r->base, r->opened, r->why, r->written, r->charset,
    quill_opens, quill_discards, quill_data;
  ensures quill_decoder_ok(&r->dec);
  ensures r->opened == quill_opens && (quill_opens == 0 || quill_opens == 1);
  ensures \result == 0 ==> r->dec.stage != QUILL_FAILED &&
    (quill_opens == 1 <==> r->dec.stage == QUILL_DATA) &&
    quill_discards == 0 && r->written == r->dec.received &&
    quill_data == r->dec.received;
  ensures \result != 0 ==> r->why != \null && quill_discards == quill_opens;
  ensures 0 < \result <= QUILL_COMMIT_FAILED || \result == 0;
*/
static int
take(struct quill_receiver *r, const unsigned char *buf, size_t n)
{
	const unsigned char *data = NULL;
	size_t datalen, k;
	int res;

	/*@
	  loop invariant 0 <= k <= n;
	  loop invariant quill_decoder_ok(&r->dec);
	  loop invariant r->dec.stage != QUILL_FAILED;
	  loop invariant r->opened == quill_opens && (quill_opens == 0 || quill_opens == 1);
	  loop invariant quill_opens == 1 <==> r->dec.stage == QUILL_DATA;
	  loop invariant quill_discards == 0;
	  loop invariant r->written == r->dec.received;
	  loop invariant quill_data == r->dec.received;
	  loop assigns k, data, datalen, res, r->dec, r->base, r->opened,
	    r->why, r->written, r->charset, quill_opens, quill_data;
	  loop variant n - k;
	*/
	for (k = 0; k < n; ) {
		k += quill_decoder_feed(&r->dec, buf + k, n - k, &data,
		    &datalen);
		/*@ assert r->opened == quill_opens; */
		if (r->dec.stage == QUILL_FAILED)
			return end(r, QUILL_BAD_STREAM, r->dec.error);
		/* The header is whole: before any data, the name. */
		if (r->dec.stage == QUILL_DATA && !r->opened &&
		    (res = open_file(r)) != 0)
			return res;
		if (datalen == 0)
			continue;
		if (quill_port_write(r, data, datalen) != 0)
			return end(r, QUILL_WRITE_FAILED,
			    "the port could not write it");
		r->written += (int64_t)datalen;
	}
	return 0;
}

void
quill_begin(struct quill_receiver *r, void *port)
{
	quill_decoder_init(&r->dec);
	r->dec.codepage = r->codepage;	/* the port's, kept */
	r->port = port;
	r->base = NULL;
	r->total = 0;
	r->written = 0;
	r->opened = 0;
	r->why = NULL;
	r->result = QUILL_MORE;
	r->charset = 0;
}

enum quill_result
quill_push(struct quill_receiver *r, const unsigned char *data, size_t len)
{
	int res;

	if (r->result != QUILL_MORE)
		return r->result;
	/* Only shown in messages: it stops rather than wraps. */
	if (len <= (uint64_t)(INT64_MAX - r->total))
		r->total += (int64_t)len;
	if ((res = take(r, data, len)) != 0) {
		r->result = (enum quill_result)res;
		/*@ assert quill_over(r, quill_opens, quill_commits,
		      quill_discards, quill_closed, quill_data); */
	} else {
		/*@ ghost quill_goes(r, quill_opens, quill_commits,
		      quill_discards, quill_data); */
	}
	return r->result;
}

enum quill_result
quill_ended(struct quill_receiver *r, long how)
{
	const char *why;

	if (r->result != QUILL_MORE)
		return r->result;
	/*@ ghost quill_closed = how == QUILL_CLOSED ? 1 : 0; */
	/* Closed: only a whole stream is kept. */
	if (how == QUILL_TIMEDOUT)
		r->result = end(r, QUILL_STALLED, "no byte within the time limit");
	else if (how != QUILL_CLOSED)
		r->result = end(r, QUILL_READ_FAILED, "the connection failed");
	else if ((why = quill_decoder_finish(&r->dec)) != NULL)
		r->result = end(r, QUILL_CUT_SHORT, why);
	else if (quill_port_commit(r) != 0)
		r->result = end(r, QUILL_COMMIT_FAILED,
		    "the port could not keep it");
	else
		r->result = QUILL_SAVED;
	return r->result;
}
