/*
 * Every 32-bit value through the field encoding and back: the bytes that
 * quill_put_i32le writes are the value's, least significant first, and
 * quill_get_i32le reads the value back from them. Plain C, so that it runs
 * wherever the fields are built. Exits 1 at the first value that fails.
 */
#include <stdint.h>
#include <stdio.h>

#include "transfer.h"

int
main(void)
{
	unsigned char b[QUILL_FIELD];
	uint32_t u = 0;
	int32_t v;
	int k;

	do {
		/* The value of bit pattern u, by arithmetic. */
		v = u <= INT32_MAX ? (int32_t)u :
		    (int32_t)(u - 0x80000000u) - INT32_MAX - 1;
		quill_put_i32le(b, v);
		for (k = 0; k < QUILL_FIELD; k++)
			if (b[k] != (u >> (8 * k) & 0xff)) {
				printf("%ld: byte %d is %02x\n", (long)v, k, b[k]);
				return 1;
			}
		if (quill_get_i32le(b) != v) {
			printf("%ld: read back as %ld\n", (long)v,
			    (long)quill_get_i32le(b));
			return 1;
		}
	} while (++u != 0);
	puts("all 4294967296 values round trip");
	return 0;
}
