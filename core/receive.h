/*
 * The receiving rules, in one portable core: quill_receive runs one
 * transfer through a port that the host supplies, and decides what is
 * kept. The port is five functions, quill_port_*, that the host defines:
 * read with a time limit, open a staged file, write, commit, discard.
 * quillrecv is the POSIX port; a device's firmware is another.
 *
 * What the core does, in this order: feeds the decoder what the port
 * reads; once the header is whole (before any data, so an empty file is
 * stored too) checks the name and opens a file for its base name and the
 * announced size; writes the data the decoder hands out; and when the
 * sender closes, commits the file only when it is whole. Every other end
 * discards what was opened and says why: one result, one reason each.
 *
 * It is C99 and C++ alike, needs only the C standard headers, allocates
 * nothing and keeps its state in one record the caller owns. The
 * contracts (ACSL, in the comments that open with an @) are proven by
 * Frama-C's WP (scripts/prove) for every input and any behaviour of the
 * port within its contract below.
 */
#ifndef QUILL_RECEIVE_H
#define QUILL_RECEIVE_H

#include <stddef.h>
#include <stdint.h>

#include "decoder.h"

/* What the port's read returns besides a count of bytes. */
#define QUILL_CLOSED	0	/* the sender closed the connection */
#define QUILL_TIMEDOUT	(-1)	/* no byte came within the time limit */
#define QUILL_READFAIL	(-2)	/* the connection failed */

/* How a transfer ended; r->why says it in words. */
enum quill_result {
	QUILL_SAVED,		/* whole, and committed */
	QUILL_BAD_STREAM,	/* it broke a rule of the stream */
	QUILL_BAD_NAME,		/* its base name names no file to store */
	QUILL_CUT_SHORT,	/* the sender closed before it was whole */
	QUILL_STALLED,		/* no byte came within the time limit */
	QUILL_READ_FAILED,	/* the connection failed */
	QUILL_NOT_OPENED,	/* the port would not store it */
	QUILL_WRITE_FAILED,	/* the port could not write it */
	QUILL_COMMIT_FAILED	/* the port could not keep it */
};

struct quill_receiver {
	struct quill_decoder dec;	/* the header, once whole, is here */
	void		*port;		/* the port's own state */
	const char	*base;		/* the name stored under, once opened */
	int64_t		 total;		/* bytes read, header included */
	int64_t		 written;	/* data bytes written */
	int		 opened;	/* the port opened a file */
	const char	*why;		/* why it ended, unless saved */
};

/*
 * What the proof knows of the port: which of its calls happened. Ghost
 * variables, seen by the prover only.
 */
/*@ ghost int quill_opens; */		/* the port opened a file */
/*@ ghost int quill_commits; */		/* the port kept it */
/*@ ghost int quill_discards; */	/* the port threw it away */
/*@ ghost int quill_closed; */		/* the last read saw the close */


/*
 * Runs one transfer: reads the stream through the port into buf, a buffer
 * of size bytes, and stores the file. Returns QUILL_SAVED once the port
 * has committed the file, else how it ended, with r->why set; r->dec holds
 * what arrived either way. r->port is set to port, for the port's use.
 *
 * What is proven: no run-time error, for any stream and any port within
 * its contract; quill_port_open gets a name a device may store as it is,
 * only once the header is whole; each quill_port_write carries the next
 * of the data's bytes by count, none twice and none skipped (that they
 * are the decoder's is tested); quill_port_commit is called
 * only when the stream was whole and the sender had closed, with as many
 * bytes written as announced; quill_port_discard is called exactly when a
 * file was opened and not committed, and at most once.
 */
/*@
  requires \valid(r) && 0 < size <= INT32_MAX;
  requires \valid(buf + (0 .. size - 1));
  requires \separated(r, buf + (0 .. size - 1));
  requires quill_opens == 0 && quill_commits == 0 && quill_discards == 0;
  requires quill_closed == 0;
  assigns *r, buf[0 .. size - 1], quill_opens, quill_commits,
    quill_discards, quill_closed;
  ensures r->port == port;
  ensures \result == QUILL_SAVED <==> quill_commits == 1;
  ensures \result == QUILL_SAVED ==> quill_closed == 1 &&
    r->dec.stage == QUILL_DATA && r->written == r->dec.size;
  ensures quill_discards == 1 <==> quill_opens == 1 && quill_commits == 0;
  ensures (quill_opens == 0 || quill_opens == 1) &&
    quill_commits <= quill_opens;
  ensures \result != QUILL_SAVED ==> r->why != \null;
*/
enum quill_result quill_receive(struct quill_receiver *r, void *port,
	    unsigned char *buf, size_t size);

/*
 * The port. Reads up to len bytes into buf, waiting for them as long as
 * the port's time limit allows. Returns how many it read, QUILL_CLOSED
 * when the sender closed the connection, QUILL_TIMEDOUT or QUILL_READFAIL.
 */
/*@
  requires \valid(r) && 0 < len && \valid(buf + (0 .. len - 1));
  requires \separated(r, buf + (0 .. len - 1));
  assigns buf[0 .. len - 1], quill_closed;
  ensures quill_closed == (\result == QUILL_CLOSED ? 1 : 0);
*/
long	quill_port_read(struct quill_receiver *r, unsigned char *buf,
	    size_t len);

/*
 * Opens a staged file for base, which the core has checked, to hold
 * r->dec.size bytes. Returns 0, or -1 when the port will not store it (no
 * room, a name the storage refuses).
 */
/*@
  requires \valid(r) && r->dec.stage == QUILL_DATA;
  // A name a device may store as it is: not empty, "." or "..", and no
  // '/', '\', C0 control or DEL in it.
  requires valid_read_string(base) && base[0] != '\0';
  requires !(base[0] == '.' &&
    (base[1] == '\0' || (base[1] == '.' && base[2] == '\0')));
  requires \forall integer j; 0 <= j < strlen(base) ==>
    base[j] != '/' && base[j] != '\\' &&
    (unsigned char)base[j] >= 0x20 && (unsigned char)base[j] != 0x7f;
  requires quill_opens == 0;
  assigns quill_opens;
  ensures \result == 0 ? quill_opens == 1 : quill_opens == 0;
*/
int	quill_port_open(struct quill_receiver *r, const char *base);

/*
 * Writes all len bytes at data, the next of the file's data, to the
 * staged file. Returns 0, or -1 when it cannot.
 */
/*@
  requires \valid(r) && quill_opens == 1;
  requires quill_commits == 0 && quill_discards == 0;
  requires 0 < len && \valid_read(data + (0 .. len - 1));
  requires r->dec.stage == QUILL_DATA;
  requires r->written + len == r->dec.received;
  assigns \nothing;
*/
int	quill_port_write(struct quill_receiver *r, const unsigned char *data,
	    size_t len);

/*
 * Keeps the staged file, which is whole, under its name. Returns 0, or -1
 * when it cannot be sure the file is kept; discard follows.
 */
/*@
  requires \valid(r) && quill_opens == 1;
  requires quill_commits == 0 && quill_discards == 0;
  requires quill_closed == 1;
  requires r->dec.stage == QUILL_DATA && r->dec.received == r->dec.size;
  requires r->written == r->dec.size;
  assigns quill_commits;
  ensures \result == 0 ? quill_commits == 1 : quill_commits == 0;
*/
int	quill_port_commit(struct quill_receiver *r);

/* Throws the staged file away. */
/*@
  requires \valid(r) && quill_opens == 1;
  requires quill_commits == 0 && quill_discards == 0;
  assigns quill_discards;
  ensures quill_discards == 1;
*/
void	quill_port_discard(struct quill_receiver *r);

#endif
