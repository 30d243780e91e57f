/*
 * What the senders share about the transfer: the fixed constants, and
 * the encoding of the stream's fields (fields.h, the receiving core's
 * too). It needs nothing but the C standard headers; the senders'
 * listening address is in service.h.
 */
#ifndef QUILL_TRANSFER_H
#define QUILL_TRANSFER_H

#include <stddef.h>
#include <stdint.h>

#include "fields.h"

#define QUILL_PORT	21		/* fixed: the device expects it */
#define QUILL_BACKLOG	1		/* one receiver per run */
#define QUILL_CHUNK	4096		/* bytes per send of file data */
#ifndef QUILL_READ_BUFFER		/* the benchmark tries other sizes */
#define QUILL_READ_BUFFER (128 * 1024)	/* stdio buffer of the file: one
					   read of it serves many chunks */
#endif
#define QUILL_FILE_MODE	"rb"
#define QUILL_MAX_SIZE	INT32_MAX	/* largest size the size field holds */

#endif
