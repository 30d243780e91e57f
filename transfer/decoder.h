/*
 * Incremental decoder of the transfer stream, for receivers. Feed it the
 * bytes of the connection as they arrive, in pieces of any size; it checks
 * the header and hands back the file data.
 */
#ifndef QUILL_DECODER_H
#define QUILL_DECODER_H

#include <stddef.h>
#include <stdint.h>

#include "transfer.h"

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
	int32_t		 namelen;
	char		 name[QUILL_MAX_NAME];	/* with its zero byte */
	int32_t		 size;
	int64_t		 received;	/* file data bytes so far */
	const char	*error;
};

void	quill_decoder_init(struct quill_decoder *d);

/*
 * Consumes bytes from buf[0..len). Returns how many it took, never 0 when
 * len > 0 unless the decoder has failed. Header bytes are kept in *d; when
 * the bytes taken are file data, *data points at them in buf and *datalen
 * is their count, otherwise *datalen is 0. Once the stream breaks a rule
 * (name length out of 1..QUILL_MAX_NAME, a name without its final zero or
 * with a zero inside, a negative size, more data than announced) the stage
 * is QUILL_FAILED, error says why, and nothing more is taken.
 */
size_t	quill_decoder_feed(struct quill_decoder *d, const unsigned char *buf,
	    size_t len, const unsigned char **data, size_t *datalen);

/*
 * Call when the connection has closed. Returns NULL when the stream was
 * whole (header read and exactly size data bytes), otherwise why not.
 */
const char *quill_decoder_finish(struct quill_decoder *d);

#endif
