/*
 * The stream, and the encoding of its integer fields: all that a sender
 * and a receiver share. C99, usable from C++; needs only the C standard
 * headers.
 *
 * The stream a sender writes on the one connection it accepts:
 *
 *	name length	4 bytes, signed 32-bit little-endian, strlen(name) + 1
 *	name		name length bytes, the file argument and a zero byte
 *	file size	4 bytes, signed 32-bit little-endian
 *	file data	file size bytes; the sender then closes the connection
 */
#ifndef QUILL_FIELDS_H
#define QUILL_FIELDS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QUILL_FIELD	4		/* width of an integer field */
#define QUILL_MAX_PATH	4096		/* longest name length a receiver takes */

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

#ifdef __cplusplus
}
#endif

#endif
