#include "fields.h"

void
quill_put_i32le(unsigned char out[QUILL_FIELD], int32_t v)
{
	uint32_t u = (uint32_t)v;

	out[0] = (unsigned char)(u & 0xff);
	out[1] = (unsigned char)((u >> 8) & 0xff);
	out[2] = (unsigned char)((u >> 16) & 0xff);
	out[3] = (unsigned char)((u >> 24) & 0xff);
}

int32_t
quill_get_i32le(const unsigned char in[QUILL_FIELD])
{
	/*
	 * The top byte carries the sign. Two's complement by arithmetic, so
	 * no conversion is implementation-defined and no sum overflows.
	 */
	int32_t top = in[3] < 0x80 ? in[3] : in[3] - 0x100;

	return top * 0x1000000 + in[2] * 0x10000 + in[1] * 0x100 + in[0];
}
