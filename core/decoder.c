#include <string.h>

#include "decoder.h"

/*@
  requires \valid(d) && \valid_read(why);
  assigns d->stage, d->error;
  ensures d->stage == QUILL_FAILED && d->error == why && \result == 0;
*/
static size_t
fail(struct quill_decoder *d, const char *why)
{
	d->stage = QUILL_FAILED;
	d->error = why;
	return 0;
}

void
quill_decoder_init(struct quill_decoder *d)
{
	/* Field by field, so that each is known to hold what it should. */
	d->stage = QUILL_NAMELEN;
	memset(d->field, 0, sizeof(d->field));
	d->have = 0;
	d->namelen = 0;
	d->kept = 0;
	d->cut = 0;
	d->zero = 0;
	d->over = 0;
	d->codepage = 0;
	d->trail = 0;
	memset(d->name, 0, sizeof(d->name));
	d->size = 0;
	d->received = 0;
	d->error = NULL;
}

/* Gathers one integer field; returns bytes taken, *done when complete. */
/*@
  requires \valid(d) && d->have < QUILL_FIELD;
  requires len > 0 && \valid_read(buf + (0 .. len - 1));
  requires \valid(value) && \valid(done);
  requires \separated(&d->have, d->field + (0 .. QUILL_FIELD - 1), value,
    done, buf + (0 .. len - 1));
  assigns d->field[d->have .. QUILL_FIELD - 1], d->have, *value, *done;
  ensures 0 < \result <= len && \result <= QUILL_FIELD - \old(d->have);
  ensures *done != 0 <==> \old(d->have) + \result == QUILL_FIELD;
  ensures *done != 0 ==> d->have == 0;
  ensures *done == 0 ==> d->have == \old(d->have) + \result &&
    \result == len && d->have < QUILL_FIELD;
*/
static size_t
take_field(struct quill_decoder *d, const unsigned char *buf, size_t len,
    int32_t *value, int *done)
{
	size_t n = QUILL_FIELD - d->have;

	if (n > len)
		n = len;
	memcpy(d->field + d->have, buf, n);
	d->have += n;
	*done = d->have == QUILL_FIELD;
	if (*done) {
		*value = quill_get_i32le(d->field);
		d->have = 0;
	}
	return n;
}

/*
 * Takes bytes of a name that is kept whole, and checks it once its last
 * byte is in: then the stage is QUILL_SIZE, or QUILL_FAILED when the name
 * breaks a rule. Returns the bytes taken, 0 when it failed.
 */
/*@
  requires \valid(d) && d->stage == QUILL_NAME && d->cut == 0;
  requires quill_length_ok(d) && d->have < d->namelen;
  requires len > 0 && \valid_read(buf + (0 .. len - 1));
  requires \separated(d, buf + (0 .. len - 1));
  assigns d->name[d->have .. d->namelen - 1], d->have, d->kept, d->stage,
    d->error;
  ensures d->stage == QUILL_NAME ==> 0 < \result <= len &&
    d->have < d->namelen;
  ensures d->stage == QUILL_SIZE ==> 0 < \result <= len && d->have == 0 &&
    quill_name_ok(d);
  ensures d->stage == QUILL_FAILED ==> \result == 0 && d->error != \null;
  ensures d->stage == QUILL_NAME || d->stage == QUILL_SIZE ||
    d->stage == QUILL_FAILED;
*/
static size_t
take_name(struct quill_decoder *d, const unsigned char *buf, size_t len)
{
	size_t n;

	n = (size_t)d->namelen - d->have;
	if (n > len)
		n = len;
	memcpy(d->name + d->have, buf, n);
	d->have += n;
	if (d->have == (size_t)d->namelen) {
		if (d->name[d->namelen - 1] != '\0')
			return fail(d, "name without its final zero");
		if (strlen(d->name) != (size_t)d->namelen - 1)
			return fail(d, "name with a zero inside");
		d->kept = (size_t)d->namelen;
		d->have = 0;
		d->stage = QUILL_SIZE;
	}
	return n;
}

/*
 * Stores the byte at from in name[k], copied, not converted to char: how
 * name[0 .. k] is read is as before.
 */
/*@
  requires \valid(name + k) && \valid_read(from);
  requires \separated(name + k, from);
  assigns name[k];
  ensures \forall integer cp, j; 0 <= j <= k ==>
    (quill_trail(name, cp, j) <==> \old(quill_trail(name, cp, j)));
*/
static void
store(char *name, size_t k, const unsigned char *from)
{
	memcpy(name + k, from, 1);
	/*@ ghost
	  size_t j;
	  /@
	    loop invariant 0 <= j <= k;
	    loop invariant \forall integer cp, m; 0 <= m <= j ==>
	      (quill_trail(name, cp, m) <==> \at(quill_trail(name, cp, m), Pre));
	    loop assigns j;
	    loop variant k - j;
	  @/
	  for (j = 0; j < k; j++)
	    ;
	*/
}

/*
 * Takes bytes of a name too long to keep whole: name keeps what follows
 * its last '/' or '\' so far. Checks the whole name once its last byte is
 * in: then the stage is QUILL_SIZE, or QUILL_FAILED when the name breaks a
 * rule or what follows its last separator does not fit in name. Returns
 * the bytes taken, 0 when it failed.
 */
/*@
  requires \valid(d) && d->stage == QUILL_NAME && d->cut == 1;
  requires quill_length_ok(d) && d->have < d->namelen;
  requires d->kept < QUILL_MAX_NAME && quill_kept_base(d, d->kept);
  requires quill_kept_trail(d);
  requires len > 0 && \valid_read(buf + (0 .. len - 1));
  requires \separated(d, buf + (0 .. len - 1));
  assigns d->name[0 .. QUILL_MAX_NAME - 1], d->have, d->kept, d->zero,
    d->over, d->trail, d->stage, d->error;
  ensures d->stage == QUILL_NAME ==> \result == len &&
    d->have < d->namelen && d->kept < QUILL_MAX_NAME &&
    quill_kept_base(d, d->kept) && quill_kept_trail(d);
  ensures d->stage == QUILL_SIZE ==> 0 < \result <= len && d->have == 0 &&
    quill_name_ok(d);
  ensures d->stage == QUILL_FAILED ==> \result == 0 && d->error != \null;
  ensures d->stage == QUILL_NAME || d->stage == QUILL_SIZE ||
    d->stage == QUILL_FAILED;
*/
static size_t
take_cut_name(struct quill_decoder *d, const unsigned char *buf, size_t len)
{
	size_t i;
	int trail;
	char c;

	/*@
	  loop invariant 0 <= i <= len;
	  loop invariant d->stage == QUILL_NAME && d->have < d->namelen;
	  loop invariant d->kept < QUILL_MAX_NAME && quill_kept_base(d, d->kept);
	  loop invariant quill_kept_trail(d);
	  loop assigns i, c, trail, d->name[0 .. QUILL_MAX_NAME - 1], d->have,
	    d->kept, d->zero, d->over, d->trail;
	  loop variant len - i;
	*/
	for (i = 0; i < len; i++) {
		/* Stored past what is kept, and kept only when it belongs. */
		store(d->name, d->kept, buf + i);
		/*@ assert quill_kept_base(d, d->kept); */
		/*@ assert quill_kept_trail(d); */
		c = d->name[d->kept];
		if (d->have + 1 == (size_t)d->namelen) {
			/* Its last byte: the checks of a whole name, in order. */
			if (c != '\0')
				return fail(d, "name without its final zero");
			if (d->zero)
				return fail(d, "name with a zero inside");
			if (d->over)
				return fail(d, "base name longer than this "
				    "receiver keeps");
			/*@ assert quill_kept_base(d, d->kept) &&
			      d->name[d->kept] == '\0'; */
			d->kept++;
			/*@ assert quill_kept_base(d, d->kept - 1); */
			d->have = 0;
			d->stage = QUILL_SIZE;
			/*@ assert quill_name_ok(d); */
			return i + 1;
		}
		d->have++;
		trail = d->trail;
		d->trail = !trail && QUILL_LEAD(d->codepage, (unsigned char)c);
		if (c == '\0' || c == '/' || (!trail && c == '\\')) {
			/*
			 * What came before names a folder, or the name fails
			 * for its zero: dropped, and read afresh after.
			 */
			if (c == '\0')
				d->zero = 1;
			d->kept = 0;
			d->over = 0;
			/*@ assert d->trail == 0; */
			/*@ assert !quill_trail(&d->name[0], d->codepage, 0); */
		} else if (d->kept + 1 == QUILL_MAX_NAME)
			d->over = 1;	/* no room left for its zero */
		else {
			/*@ assert !quill_sep(&d->name[0], d->codepage, d->kept); */
			/*@ assert d->trail != 0 <==>
			      quill_trail(&d->name[0], d->codepage, d->kept + 1); */
			d->kept++;
		}
	}
	return len;
}

size_t
quill_decoder_feed(struct quill_decoder *d, const unsigned char *buf,
    size_t len, const unsigned char **data, size_t *datalen)
{
	size_t n;
	int done;

	*datalen = 0;
	if (len == 0)
		return 0;
	switch (d->stage) {
	case QUILL_NAMELEN:
		n = take_field(d, buf, len, &d->namelen, &done);
		if (done) {
			if (d->namelen < 1 || d->namelen > QUILL_MAX_PATH)
				return fail(d, "name length out of range");
			/* Too long to keep whole: only its base is kept. */
			d->cut = d->namelen > QUILL_MAX_NAME;
			d->kept = 0;
			d->zero = 0;
			d->over = 0;
			d->trail = 0;
			d->stage = QUILL_NAME;
		}
		return n;
	case QUILL_NAME:
		if (d->cut)
			return take_cut_name(d, buf, len);
		return take_name(d, buf, len);
	case QUILL_SIZE:
		n = take_field(d, buf, len, &d->size, &done);
		if (done) {
			if (d->size < 0)
				return fail(d, "negative file size");
			d->stage = QUILL_DATA;
		}
		return n;
	case QUILL_DATA:
		if (d->received == d->size)
			return fail(d, "more data than announced");
		/* Compared unsigned: no len is too large for it. */
		n = len;
		if ((uint64_t)n > (uint64_t)(d->size - d->received))
			n = (size_t)(d->size - d->received);
		d->received += (int64_t)n;
		*data = buf;
		*datalen = n;
		return n;
	case QUILL_FAILED:
		break;
	}
	return 0;
}

const char *
quill_decoder_finish(struct quill_decoder *d)
{
	if (d->stage == QUILL_FAILED)
		return d->error;
	if (d->stage != QUILL_DATA)
		return "stream ended inside the header";
	if (d->received != d->size)
		return "stream ended before all data arrived";
	return NULL;
}
