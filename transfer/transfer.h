/*
 * What every part of quillsend shares about the transfer: the fixed
 * constants and the encoding of the stream's fields. It needs nothing but
 * the C standard headers; the senders' listening address is in service.h.
 *
 * The stream a sender writes on the one connection it accepts:
 *
 *	name length	4 bytes, signed 32-bit little-endian, strlen(name) + 1
 *	name		name length bytes, the file argument and a zero byte
 *	file size	4 bytes, signed 32-bit little-endian
 *	file data	file size bytes; the sender then closes the connection
 */
#ifndef QUILL_TRANSFER_H
#define QUILL_TRANSFER_H

#include <stddef.h>
#include <stdint.h>

#define QUILL_PORT	21		/* fixed: the device expects it */
#define QUILL_BACKLOG	1		/* one receiver per run */
#define QUILL_CHUNK	4096		/* bytes per send of file data */
#ifndef QUILL_READ_BUFFER		/* the benchmark tries other sizes */
#define QUILL_READ_BUFFER (128 * 1024)	/* stdio buffer of the file: one
					   read of it serves many chunks */
#endif
#define QUILL_FILE_MODE	"rb"
#define QUILL_FIELD	4		/* width of an integer field */
#define QUILL_MAX_SIZE	INT32_MAX	/* largest size the size field holds */
#ifndef QUILL_MAX_NAME			/* a device may take less: -D */
#define QUILL_MAX_NAME	4096		/* longest name a receiver takes */
#endif

/*
 * Writes v into out[0..3] as a little-endian 32-bit integer, whatever the
 * byte order of the host. (Its values are tested exhaustively, not proven.)
 */
/*@
  requires \valid(out + (0 .. QUILL_FIELD - 1));
  assigns out[0 .. QUILL_FIELD - 1];
*/
void	quill_put_i32le(unsigned char out[QUILL_FIELD], int32_t v);

/* Reads a little-endian 32-bit integer from in[0..3]; the top bit is the sign. */
/*@
  requires \valid_read(in + (0 .. QUILL_FIELD - 1));
  assigns \nothing;
  ensures \result == (in[3] < 0x80 ? in[3] : in[3] - 0x100) * 0x1000000 +
    in[2] * 0x10000 + in[1] * 0x100 + in[0];
*/
int32_t	quill_get_i32le(const unsigned char in[QUILL_FIELD]);

#endif
