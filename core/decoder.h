/*
 * Incremental decoder of the transfer stream, for receivers. Feed it the
 * bytes of the connection as they arrive, in pieces of any size; it checks
 * the header and hands back the file data.
 *
 * It is C99, usable from C++, allocates nothing and needs only the C
 * standard headers: with fields.h and fields.c it is all a decoder needs
 * (a device runs it through the receiving core, receive.h). The
 * contracts in the comments that open with an @ are
 * ACSL; Frama-C's WP proves them (scripts/prove) for every input, in any
 * pieces: no read or write out of bounds, no overflow, and what each
 * function promises below.
 */
#ifndef QUILL_DECODER_H
#define QUILL_DECODER_H

#include <stddef.h>
#include <stdint.h>

#include "fields.h"
#include "names.h"
#include "quill_limits.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Linked under names that carry the limits (quill_limits.h). */
#define quill_decoder_init	QUILL_LIMITED(quill_decoder_init)
#define quill_decoder_feed	QUILL_LIMITED(quill_decoder_feed)
#define quill_decoder_finish	QUILL_LIMITED(quill_decoder_finish)

enum quill_stage {
	QUILL_NAMELEN,		/* reading the name length */
	QUILL_NAME,		/* reading the name */
	QUILL_SIZE,		/* reading the file size */
	QUILL_DATA,		/* header done, reading file data */
	QUILL_FAILED		/* the stream broke a rule; see error */
};

struct quill_decoder {
	enum quill_stage stage;
	unsigned char	 field[QUILL_FIELD];
	size_t		 have;		/* bytes of the current field read */
	int32_t		 namelen;	/* the name's length in the stream */
	size_t		 kept;		/* bytes of it kept in name */
	int		 cut;		/* too long to keep whole: only the
					   part after its last '/' or '\' */
	int		 zero;		/* a cut name has a zero inside */
	int		 over;		/* a cut name's part so far is longer
					   than name holds */
	int		 codepage;	/* a cut name is cut on its characters
					   (quill_charset): init sets 0 */
	int		 trail;		/* a cut name's next byte is the
					   second of a character */
	char		 name[QUILL_MAX_NAME];	/* as kept, with its zero */
	int32_t		 size;
	int64_t		 received;	/* file data bytes so far */
	const char	*error;
};

/*@
  // name[0 .. n - 1] is of a base name: no zero, and no separator read
  // in the code page.
  predicate quill_kept_base(struct quill_decoder *d, integer n) =
    \forall integer i; 0 <= i < n ==>
      d->name[i] != '\0' && !quill_sep(&d->name[0], d->codepage, i);

  // While a cut name's part so far fits, trail says whether the byte
  // that would follow it in name is the second of a character; once it
  // does not, name is full.
  predicate quill_kept_trail(struct quill_decoder *d) =
    d->over == 0 ?
      (d->trail != 0 <==> quill_trail(&d->name[0], d->codepage, d->kept)) :
      d->kept + 1 == QUILL_MAX_NAME;

  // A name length the decoder takes, and how it keeps such a name: whole
  // when it fits in name, else cut.
  predicate quill_length_ok(struct quill_decoder *d) =
    1 <= d->namelen <= QUILL_MAX_PATH &&
    (d->cut == 0 || d->cut == 1) &&
    (d->cut == 1 <==> d->namelen > QUILL_MAX_NAME);

  // The name as the decoder hands it on: kept bytes, the last one zero and
  // no other; all namelen of them when it is not cut, else only a base
  // name, what followed the name's last '/' or '\'.
  predicate quill_name_ok(struct quill_decoder *d) =
    quill_length_ok(d) && 1 <= d->kept <= QUILL_MAX_NAME &&
    (d->cut == 0 ==> d->kept == d->namelen) &&
    (d->cut == 1 ==> quill_kept_base(d, d->kept - 1)) &&
    d->name[d->kept - 1] == '\0' &&
    \forall integer i; 0 <= i < d->kept - 1 ==> d->name[i] != '\0';

  // What holds of a decoder between calls. A field or the name is never
  // complete while its stage lasts, and a cut name's part so far leaves
  // room for its zero; once the name is read the kept name is a string
  // of kept - 1 bytes; no data is counted before the header is whole,
  // nor more than announced.
  predicate quill_decoder_ok(struct quill_decoder *d) =
    \valid(d) &&
    (d->stage == QUILL_NAMELEN || d->stage == QUILL_NAME ||
     d->stage == QUILL_SIZE || d->stage == QUILL_DATA ||
     d->stage == QUILL_FAILED) &&
    (d->stage == QUILL_NAMELEN ==> d->have < QUILL_FIELD) &&
    (d->stage == QUILL_NAME ==> quill_length_ok(d) && d->have < d->namelen &&
      (d->cut == 1 ==> d->kept < QUILL_MAX_NAME &&
        quill_kept_base(d, d->kept) && quill_kept_trail(d))) &&
    (d->stage == QUILL_SIZE ==> d->have < QUILL_FIELD && quill_name_ok(d)) &&
    (d->stage < QUILL_DATA ==> d->received == 0) &&
    (d->stage == QUILL_DATA ==>
      quill_name_ok(d) && 0 <= d->received <= d->size) &&
    (d->stage == QUILL_FAILED ==> d->error != \null);
*/

/*@
  requires \valid(d);
  assigns *d;
  ensures quill_decoder_ok(d);
  ensures d->stage == QUILL_NAMELEN && d->have == 0 && d->received == 0;
*/
void	quill_decoder_init(struct quill_decoder *d);

/*
 * Consumes bytes from buf[0..len). Returns how many it took, never 0 when
 * len > 0 unless the decoder has failed. Header bytes are kept in *d; when
 * the bytes taken are file data, *data points at them in buf and *datalen
 * is their count, otherwise *datalen is 0. A name longer than
 * QUILL_MAX_NAME bytes with its zero is cut: name keeps only what follows
 * its last '/' or '\', read in code page codepage (see names.h: a second
 * byte 0x5c is none), and cut says so. Once the stream breaks a rule
 * (name length out of 1..QUILL_MAX_PATH, a name without its final zero or
 * with a zero inside, a negative size, more data than announced) or a cut
 * name's base does not fit in name, the stage is QUILL_FAILED, error says
 * why, and nothing more is taken.
 */
/*@
  requires quill_decoder_ok(d);
  requires \valid_read(buf + (0 .. len - 1));
  requires \valid(data) && \valid(datalen);
  requires \separated(d, data, datalen, buf + (0 .. len - 1));
  assigns *d, *data, *datalen;
  ensures quill_decoder_ok(d);
  ensures 0 <= \result <= len;
  ensures \result == 0 ==> len == 0 || d->stage == QUILL_FAILED;
  ensures *datalen == 0 || (*data == buf && *datalen == \result &&
    d->stage == QUILL_DATA &&
    d->received == \old(d->received) + *datalen);
  ensures *datalen == 0 ==> d->received == \old(d->received);
  ensures \old(d->stage) == QUILL_DATA ==>
    d->stage == QUILL_DATA || d->stage == QUILL_FAILED;

  behavior empty:
    assumes len == 0;
    assigns *datalen;
    ensures \result == 0 && *datalen == 0;
  behavior failed:
    assumes len > 0 && d->stage == QUILL_FAILED;
    assigns *datalen;
    ensures \result == 0 && *datalen == 0;
  behavior name_length:
    assumes len > 0 && d->stage == QUILL_NAMELEN;
    assigns d->field[0 .. QUILL_FIELD - 1], d->have, d->namelen, d->kept,
      d->cut, d->zero, d->over, d->trail, d->stage, d->error, *datalen;
    ensures (\result > 0 || d->stage == QUILL_FAILED) && *datalen == 0;
    ensures d->stage == QUILL_NAMELEN || d->stage == QUILL_NAME ||
      d->stage == QUILL_FAILED;
  behavior name:
    assumes len > 0 && d->stage == QUILL_NAME && d->cut == 0;
    assigns d->name[d->have .. d->namelen - 1], d->have, d->kept, d->stage,
      d->error, *datalen;
    ensures (\result > 0 || d->stage == QUILL_FAILED) && *datalen == 0;
    ensures d->stage == QUILL_NAME || d->stage == QUILL_SIZE ||
      d->stage == QUILL_FAILED;
  behavior cut_name:
    assumes len > 0 && d->stage == QUILL_NAME && d->cut != 0;
    assigns d->name[0 .. QUILL_MAX_NAME - 1], d->have, d->kept, d->zero,
      d->over, d->trail, d->stage, d->error, *datalen;
    ensures (\result > 0 || d->stage == QUILL_FAILED) && *datalen == 0;
    ensures d->stage == QUILL_NAME || d->stage == QUILL_SIZE ||
      d->stage == QUILL_FAILED;
  behavior size:
    assumes len > 0 && d->stage == QUILL_SIZE;
    assigns d->field[0 .. QUILL_FIELD - 1], d->have, d->size, d->stage,
      d->error, *datalen;
    ensures (\result > 0 || d->stage == QUILL_FAILED) && *datalen == 0;
    ensures d->stage == QUILL_SIZE || d->stage == QUILL_DATA ||
      d->stage == QUILL_FAILED;
  behavior data:
    assumes len > 0 && d->stage == QUILL_DATA;
    assigns d->received, d->stage, d->error, *data, *datalen;
    ensures \old(d->received) == d->size ==>
      d->stage == QUILL_FAILED && \result == 0;
    ensures \old(d->received) < d->size ==> d->stage == QUILL_DATA &&
      *datalen == \result && 0 < \result <= d->size - \old(d->received);
    ensures \old(d->received) < d->size && \result < len ==>
      d->received == d->size;
  complete behaviors;
  disjoint behaviors;
*/
size_t	quill_decoder_feed(struct quill_decoder *d, const unsigned char *buf,
	    size_t len, const unsigned char **data, size_t *datalen);

/*
 * Call when the connection has closed. Returns NULL when the stream was
 * whole (header read and exactly size data bytes), otherwise why not.
 */
/*@
  requires quill_decoder_ok(d);
  assigns \nothing;
  behavior whole:
    assumes d->stage == QUILL_DATA && d->received == d->size;
    ensures \result == \null;
  behavior broken:
    assumes !(d->stage == QUILL_DATA && d->received == d->size);
    ensures \result != \null;
  complete behaviors;
  disjoint behaviors;
*/
const char *quill_decoder_finish(struct quill_decoder *d);

#ifdef __cplusplus
}
#endif

#endif
