/*
 * The receiving rules, in one portable core: it runs one transfer through
 * a port that the host supplies, and decides what is kept. The port is
 * four functions, quill_port_*, that the host defines: open a staged file,
 * write, commit, discard. quillrecv is the POSIX port; a device's firmware
 * is another.
 *
 * Two entries, for the two kinds of network stack:
 *
 *  - push, for a stack that calls back as bytes arrive (an event loop, a
 *    raw callback API): quill_begin, then quill_push with each piece of
 *    bytes as it arrives, straight from the stack's own buffer, then
 *    quill_ended when the connection ends (the sender closed, the device's
 *    own time limit passed, the connection failed). receive.c.
 *  - pull, for a stack with blocking reads (sockets, an RTOS):
 *    quill_receive reads through a fifth port function, quill_port_read,
 *    into a buffer of the caller's, and feeds the push entry. pull.c; a
 *    device that only pushes leaves it out and needs no quill_port_read.
 *
 * What the core does, in this order: feeds the decoder the bytes; once the
 * header is whole (before any data, so an empty file is stored too) checks
 * the name and opens a file for its base name and the announced size;
 * writes the data the decoder hands out; and when the sender closes,
 * commits the file only when it is whole. Every other end discards what
 * was opened and says why: one result, one reason each.
 *
 * It is C99, usable from C++, needs only the C standard headers, allocates
 * nothing and keeps its state in one record the caller owns. The contracts
 * (ACSL, in the comments that open with an @) are proven by Frama-C's WP
 * (scripts/prove), for both entries, for every input and any behaviour of
 * the port within its contract below.
 */
#ifndef QUILL_RECEIVE_H
#define QUILL_RECEIVE_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>		/* strlen, in the contracts */

#include "decoder.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Linked under names that carry the limits (quill_limits.h). */
#define quill_begin		QUILL_LIMITED(quill_begin)
#define quill_push		QUILL_LIMITED(quill_push)
#define quill_ended		QUILL_LIMITED(quill_ended)
#define quill_receive		QUILL_LIMITED(quill_receive)
#define quill_port_read		QUILL_LIMITED(quill_port_read)
#define quill_port_open		QUILL_LIMITED(quill_port_open)
#define quill_port_write	QUILL_LIMITED(quill_port_write)
#define quill_port_commit	QUILL_LIMITED(quill_port_commit)
#define quill_port_discard	QUILL_LIMITED(quill_port_discard)

/*
 * How the connection ended, for quill_ended; and what the port's read
 * returns besides a count of bytes.
 */
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
	QUILL_COMMIT_FAILED,	/* the port could not keep it */
	QUILL_MORE		/* quill_push: not yet ended */
};

struct quill_receiver {
	struct quill_decoder dec;	/* the header, once whole, is here */
	void		*port;		/* the port's own state */
	const char	*base;		/* the name stored under, once opened */
	int64_t		 total;		/* bytes read, header included */
	int64_t		 written;	/* data bytes written */
	int		 opened;	/* the port opened a file */
	const char	*why;		/* why it ended, unless saved */
	enum quill_result result;	/* QUILL_MORE, or how it ended */
	int		 codepage;	/* the port's: the code page of names
					   that are not UTF-8 (names.h); 0
					   for one byte a character. Kept by
					   quill_begin */
	int		 charset;	/* the name was read in, once opened
					   (quill_charset) */
};

/*
 * What the proof knows of the port: which of its calls happened. Ghost
 * variables, seen by the prover only.
 */
/*@ ghost int quill_opens; */		/* the port opened a file */
/*@ ghost int quill_commits; */		/* the port kept it */
/*@ ghost int quill_discards; */	/* the port threw it away */
/*@ ghost int quill_closed; */		/* the connection ended with the
					   sender's close */
/*@ ghost int64_t quill_data; */	/* data bytes handed to the port */

/*@
  // A transfer under way, between quill_begin and the call that ends it:
  // a file open exactly once the header is whole, none of the port's other
  // calls yet, and every data byte the decoder took handed to the port.
  predicate quill_going(struct quill_receiver *r, integer opens,
      integer commits, integer discards, integer data) =
    quill_decoder_ok(&r->dec) && r->result == QUILL_MORE &&
    r->dec.stage != QUILL_FAILED &&
    r->opened == opens && (opens == 0 || opens == 1) &&
    (opens == 1 <==> r->dec.stage == QUILL_DATA) &&
    commits == 0 && discards == 0 &&
    data == r->dec.received && r->written == r->dec.received &&
    0 <= r->total;

  // A transfer that ended: saved exactly when committed, and committed
  // only after the sender's close with every byte announced handed to the
  // port; what was opened and not kept thrown away, once; a reason for
  // every other end.
  predicate quill_over(struct quill_receiver *r, integer opens,
      integer commits, integer discards, integer closed, integer data) =
    QUILL_SAVED <= r->result <= QUILL_COMMIT_FAILED &&
    (opens == 0 || opens == 1) && commits <= opens &&
    (r->result == QUILL_SAVED <==> commits == 1) &&
    (r->result == QUILL_SAVED ==> closed == 1 &&
      r->dec.stage == QUILL_DATA && data == r->dec.size &&
      r->written == r->dec.size) &&
    (discards == 1 <==> opens == 1 && commits == 0) &&
    (discards == 0 || discards == 1) &&
    (r->result != QUILL_SAVED ==> r->why != \null);
*/


/*
 * Starts a transfer in r, for the port's state port (r->port): nothing is
 * opened until the header is whole. r->codepage, set by the port before,
 * is kept: names that are not UTF-8 are read in it.
 */
/*@
  requires \valid(r);
  requires quill_opens == 0 && quill_commits == 0 && quill_discards == 0;
  requires quill_data == 0;
  assigns r->dec, r->port, r->base, r->total, r->written, r->opened,
    r->why, r->result, r->charset;
  ensures r->port == port && r->dec.codepage == r->codepage;
  ensures quill_going(r, quill_opens, quill_commits, quill_discards,
      quill_data);
*/
void	quill_begin(struct quill_receiver *r, void *port);

/*
 * Takes the len bytes at data that arrived next (len > 0), in place: the
 * data among them goes to quill_port_write as it is, and nothing of them
 * is kept once it returns. Returns QUILL_MORE while the transfer goes on,
 * else how it ended, with r->why set; once it has ended, it takes nothing
 * and returns that again. r->result holds what it returned.
 *
 * What is proven, for both entries: no run-time error, for any stream and
 * any port within its contract; quill_port_open gets a name a device may
 * store as it is, only once the header is whole; each quill_port_write
 * carries the next of the data's bytes by count, none twice and none
 * skipped, and none before the file is open (a ghost count, quill_data;
 * that they are the decoder's is tested); quill_port_commit is called only
 * when the stream was whole and the sender had closed, with every byte
 * announced handed to the port; quill_port_discard is called exactly when
 * a file was opened and not committed, and at most once.
 */
/*@
  requires \valid(r) && 0 < len && \valid_read(data + (0 .. len - 1));
  requires \separated(r, data + (0 .. len - 1));
  requires quill_going(r, quill_opens, quill_commits, quill_discards,
      quill_data) ||
    quill_over(r, quill_opens, quill_commits, quill_discards, quill_closed,
      quill_data);
  assigns r->dec, r->base, r->opened, r->why, r->written, r->total,
    r->result, r->charset, quill_opens, quill_discards, quill_data;
  ensures \result == r->result;
  ensures quill_going(r, quill_opens, quill_commits, quill_discards,
      quill_data) ||
    quill_over(r, quill_opens, quill_commits, quill_discards, quill_closed,
      quill_data);

  behavior going:
    assumes r->result == QUILL_MORE;
    ensures \result != QUILL_SAVED;
  behavior over:
    assumes r->result != QUILL_MORE;
    assigns \nothing;
  complete behaviors;
  disjoint behaviors;
*/
enum quill_result quill_push(struct quill_receiver *r,
	    const unsigned char *data, size_t len);

/*
 * The connection ended, as how says: QUILL_CLOSED, the sender closed it;
 * QUILL_TIMEDOUT, the device's own time limit passed with no byte; any
 * other value, it failed. Commits the file when the stream was whole and
 * the sender closed, else discards what was opened. Returns QUILL_SAVED
 * once the port committed the file, else how it ended, with r->why set;
 * once the transfer has ended, it does nothing and returns that again.
 */
/*@
  requires \valid(r);
  requires quill_going(r, quill_opens, quill_commits, quill_discards,
      quill_data) ||
    quill_over(r, quill_opens, quill_commits, quill_discards, quill_closed,
      quill_data);
  assigns r->why, r->result, quill_commits, quill_discards, quill_closed;
  ensures \result == r->result;
  ensures quill_over(r, quill_opens, quill_commits, quill_discards,
    quill_closed, quill_data);

  behavior going:
    assumes r->result == QUILL_MORE;
    ensures quill_closed == (how == QUILL_CLOSED ? 1 : 0);
  behavior over:
    assumes r->result != QUILL_MORE;
    assigns \nothing;
  complete behaviors;
  disjoint behaviors;
*/
enum quill_result quill_ended(struct quill_receiver *r, long how);

/*
 * Runs one transfer with the pull entry (pull.c): reads the stream through
 * quill_port_read into buf, a buffer of size bytes, and pushes it.
 * Returns QUILL_SAVED once the port has committed the file, else how it
 * ended, with r->why set; r->dec holds what arrived either way. r->port is
 * set to port, for the port's use. Proven as quill_push says.
 */
/*@
  requires \valid(r) && 0 < size <= INT32_MAX;
  requires \valid(buf + (0 .. size - 1));
  requires \separated(r, buf + (0 .. size - 1));
  requires quill_opens == 0 && quill_commits == 0 && quill_discards == 0;
  requires quill_closed == 0 && quill_data == 0;
  assigns *r, buf[0 .. size - 1], quill_opens, quill_commits,
    quill_discards, quill_closed, quill_data;
  ensures r->port == port;
  ensures \result == r->result && \result != QUILL_MORE;
  ensures quill_over(r, quill_opens, quill_commits, quill_discards,
    quill_closed, quill_data);
*/
enum quill_result quill_receive(struct quill_receiver *r, void *port,
	    unsigned char *buf, size_t size);

/*
 * The port; quill_port_read only for the pull entry. Reads up to len bytes
 * into buf, waiting for them as long as the port's time limit allows.
 * Returns how many it read, QUILL_CLOSED when the sender closed the
 * connection, QUILL_TIMEDOUT or QUILL_READFAIL.
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
  // C0 control or DEL in it, nor '/' or '\' read in r->charset (a second
  // byte 0x5c of a double-byte character is no separator).
  requires valid_read_string(base) && base[0] != '\0';
  requires !(base[0] == '.' &&
    (base[1] == '\0' || (base[1] == '.' && base[2] == '\0')));
  requires \forall integer j; 0 <= j < strlen(base) ==>
    !quill_sep((char *)base, r->charset, j) &&
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
  // The next len of the data's bytes: none twice, none skipped.
  requires quill_data + len == r->dec.received;
  assigns quill_data;
  ensures quill_data == \old(quill_data) + len;
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
  requires quill_data == r->dec.size;
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

#ifdef __cplusplus
}
#endif

#endif
